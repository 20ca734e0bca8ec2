#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"

using namespace AttributeTestSupport;

namespace {
using Jaw = KaCJawSemanticsAttribute;

const CbVector3f c_up{0.0f, 0.0f, -1.0f};
const CbVector3f c_right{1.0f, 0.0f, 0.0f};
const CbVector3f c_stored{0.0f, 1.0f, 0.0f};

KaCQuantizedNormalBinning binningOf(const CbVector3f& direction) {
    KaCQuantizedNormalBinning binning;
    binning.AddNormal(direction, 5);
    return binning;
}
CbVector3f meanOf(const KaCQuantizedNormalBinning& binning) {
    return binning.ComputeMeanDirectionAboveThresholdCount(1);
}

// A record holding `c_stored` as both estimates, an empty occlusal histogram and an
// extraoral one that points along -x.
std::vector<uint8_t> record(bool valid, int64_t revision) {
    CbStreamWriteBinaryBuffer s;
    s.WriteVersion(1);
    for (int i = 0; i < 2; ++i) {
        s.WriteFloat(c_stored.x);
        s.WriteFloat(c_stored.y);
        s.WriteFloat(c_stored.z);
    }
    s.WriteBool(valid);
    KaCQuantizedNormalBinning().Serialize(s);
    binningOf({-1.0f, 0.0f, 0.0f}).Serialize(s);
    s.WriteInt64(revision);
    return s.GetBuffer();
}
}  // namespace

TEST(KaCJawSemanticsAttribute, EstimatesComeFromTheHistogramsOrTheFallbacks) {
    Jaw jaw;
    EXPECT_EQ(c_up, jaw.GetOcclusalDirectionEstimate());
    EXPECT_EQ(c_right, jaw.GetExtraoralDirectionEstimate());
    EXPECT_EQ(-1, jaw.GetOcclusalDirectionBinningRevision());

    const KaCQuantizedNormalBinning occlusal = binningOf({0.0f, 0.6f, 0.8f});
    jaw.SetOcclusalDirectionBinning(occlusal);
    jaw.SetExtraoralDirectionBinning(binningOf({-1.0f, 0.0f, 0.0f}));
    EXPECT_EQ(meanOf(occlusal), jaw.GetOcclusalDirectionEstimate());
    EXPECT_EQ(meanOf(binningOf({-1.0f, 0.0f, 0.0f})), jaw.GetExtraoralDirectionEstimate());
    // Changed behind the attribute's back: the cache is not recomputed.
    const_cast<KaCQuantizedNormalBinning&>(jaw.GetOcclusalDirectionBinning()).Clear();
    EXPECT_EQ(meanOf(occlusal), jaw.GetOcclusalDirectionEstimate());
}

TEST(KaCJawSemanticsAttribute, StoredEstimatesAreBelievedUntilAHistogramChanges) {
    Jaw jaw;
    ASSERT_EQ(0u, Read(jaw, record(true, 17)));
    EXPECT_EQ(c_stored, jaw.GetOcclusalDirectionEstimate());
    EXPECT_EQ(c_stored, jaw.GetExtraoralDirectionEstimate());
    EXPECT_EQ(17, jaw.GetOcclusalDirectionBinningRevision());
    // Replacing one histogram recomputes both estimates.
    jaw.SetOcclusalDirectionBinning(KaCQuantizedNormalBinning());
    EXPECT_EQ(c_up, jaw.GetOcclusalDirectionEstimate());
    EXPECT_EQ(meanOf(binningOf({-1.0f, 0.0f, 0.0f})), jaw.GetExtraoralDirectionEstimate());

    ASSERT_EQ(0u, Read(jaw, record(false, 3)));  // flag clear: recomputed
    EXPECT_EQ(c_up, jaw.GetOcclusalDirectionEstimate());

    ASSERT_EQ(0u, Read(jaw, record(true, 17)));
    EXPECT_TRUE(jaw.ResetAttribute());
    EXPECT_EQ(-1, jaw.GetOcclusalDirectionBinningRevision());
    EXPECT_EQ(c_up, jaw.GetOcclusalDirectionEstimate());
    EXPECT_EQ(c_right, jaw.GetExtraoralDirectionEstimate());  // the histogram was cleared
}

TEST(KaCJawSemanticsAttribute, WritesTheCacheAsItStandsAndFailedReadsChangeNothing) {
    Jaw written;
    written.SetOcclusalDirectionBinning(binningOf({0.0f, 0.0f, 1.0f}));
    written.SetOcclusalDirectionBinningRevision(12);
    const std::vector<uint8_t> stale = Write(written);  // not computed yet: flag clear
    written.GetOcclusalDirectionEstimate();
    const std::vector<uint8_t> fresh = Write(written);
    EXPECT_EQ(0, stale[28]);
    EXPECT_EQ(1, fresh[28]);

    Jaw reader;
    ASSERT_EQ(0u, Read(reader, fresh));
    std::vector<uint8_t> cut = record(true, 1);
    cut.resize(cut.size() - 9);  // breaks off inside the second histogram
    EXPECT_THROW(Read(reader, cut), CbException);
    EXPECT_EQ(fresh, Write(reader));
}
