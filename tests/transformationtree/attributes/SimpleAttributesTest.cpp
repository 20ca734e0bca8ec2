#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/harbor/CbFactory.h"
#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"

using namespace AttributeTestSupport;

namespace {
using Area = KaCAreaPropertiesAttribute;
using LoopCount = KaCBackgroundOptimizationLoopCountAttribute;
using Representative = KaCRepresentativeAttribute;

std::array<int, 3> voxel(const Representative& attribute) {
    std::array<int, 3> v{};
    attribute.GetGridVoxel(v[0], v[1], v[2]);
    return v;
}
const std::array<int, 3> c_unset{2147483647, 2147483647, 2147483647};
}  // namespace

TEST(KaCAreaPropertiesAttribute, StrategyIsNotStoredAndResetRestoresTheDefault) {
    Area written;
    EXPECT_EQ(Area::eOrientationStrategyNone, written.GetOrientationStrategy());
    written.SetOrientationStrategy(Area::eOrientationStrategyManual);
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0}), Write(written));

    Area reader;
    reader.SetOrientationStrategy(Area::eOrientationStrategyAutomatic);
    EXPECT_EQ(0u, Read(reader, Write(written)));
    EXPECT_EQ(Area::eOrientationStrategyAutomatic, reader.GetOrientationStrategy());
    EXPECT_TRUE(reader.ResetAttribute());
    EXPECT_EQ(Area::eOrientationStrategyNone, reader.GetOrientationStrategy());
}

TEST(KaCBackgroundOptimizationLoopCountAttribute, ResetKeepsTheCountWhichCloneAndRecordCarry) {
    LoopCount written;
    written.SetOptimizationLoopCount(4000000123u);
    EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 0x7B, 0x28, 0x6B, 0xEE}), Write(written));
    CbSmartPointer<LoopCount> copy = CbCloneByName<LoopCount>(written);
    ASSERT_TRUE(copy);
    EXPECT_EQ(4000000123u, copy->GetOptimizationLoopCount());

    EXPECT_FALSE(written.ResetAttribute());  // not overridden: the base resets nothing
    EXPECT_EQ(4000000123u, written.GetOptimizationLoopCount());
}

TEST(KaCRepresentativeAttribute, UnsetUntilSetResetAssignedAndWrittenWithoutVersion) {
    Representative attribute;
    EXPECT_EQ(c_unset, voxel(attribute));
    attribute.SetGridVoxel(1, 2, 3);
    EXPECT_TRUE(attribute.ResetAttribute());
    EXPECT_EQ(c_unset, voxel(attribute));

    attribute.SetGridVoxel(-4, 5, -2147483647 - 1);
    Representative assigned;
    assigned = attribute;
    EXPECT_EQ((std::array<int, 3>{-4, 5, -2147483647 - 1}), voxel(assigned));

    // The version helpers carry the three values alone; the record puts version 1 first.
    CbStreamWriteBinaryBuffer fields;
    attribute.writeVersion1(fields);
    std::vector<uint8_t> record = {1, 0, 0, 0};
    record.insert(record.end(), fields.GetBuffer().begin(), fields.GetBuffer().end());
    EXPECT_EQ(12u, fields.GetCount());
    EXPECT_EQ(record, Write(attribute));
    CbStreamReadBinaryBuffer bare(fields.GetBuffer());
    Representative bareReader;
    bareReader.readVersion1(bare);
    EXPECT_EQ(voxel(attribute), voxel(bareReader));
}
