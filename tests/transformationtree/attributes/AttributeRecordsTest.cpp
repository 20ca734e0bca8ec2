// What all eight attribute classes share: creation by class name, round trips, and readers
// that reject unknown versions, truncated and corrupted records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbFactory.h"
#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"

using namespace AttributeTestSupport;

namespace {

struct Sample {
    std::wstring className;
    bool cloneable;
    std::vector<uint32_t> unknownVersions;
    // Content in every stored field; maps hold one entry, so that records written twice
    // have the same bytes (entries follow the map's iteration order).
    CbSmartPointer<KaARTTIAttribute> attribute;
};

CbSmartPointer<KaARTTIAttribute> create(const std::wstring& className) {
    return CbCreateByName<KaARTTIAttribute>(className);
}

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

std::vector<Sample> samples() {
    auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
    loops->SetOptimizationLoopCount(12);
    auto representative = CbMakeShared<KaCRepresentativeAttribute>();
    representative->SetGridVoxel(-1, 0, 1);
    auto imageArea = CbMakeShared<KaCImageAreaDataAttribute>();
    imageArea->SetLastGUIDState(L"state");
    imageArea->SetTimeChanged(1700000000);
    auto effort = CbMakeShared<KaCRegistrationEffortLoggingAttribute>();
    effort->SetMeanNewtonError(0.5);
    effort->AddTimeStamp(L"start");
    effort->AddSubTaskDuration(L"icp", 1.5);
    auto hints = CbMakeShared<KaCRegistrationHintsAttribute>();
    hints->SetRegistrationHintSurfelCollection(MakeCollection(3));
    hints->SetDisplayMode(KaCRegistrationHintsAttribute::eDisplayModeOverlay);
    auto warning = CbMakeShared<KaCDisconnectedComponentWarningAttribute>();
    warning->SetWarningSurfelCollection(MakeCollection(2, 5.0f));
    auto jaw = CbMakeShared<KaCJawSemanticsAttribute>();
    KaCQuantizedNormalBinning binning;
    binning.AddNormal({0.0f, 0.0f, 1.0f}, 3);
    jaw->SetOcclusalDirectionBinning(binning);
    jaw->GetOcclusalDirectionEstimate();
    const std::vector<uint32_t> notOne = {0, 2, 0xFFFFFFFF};
    return {
        {L"KaCAreaPropertiesAttribute", false, notOne, CbMakeShared<KaCAreaPropertiesAttribute>()},
        {L"KaCBackgroundOptimizationLoopCountAttribute", true, notOne, loops},
        {L"KaCRepresentativeAttribute", true, notOne, representative},
        {L"KaCImageAreaDataAttribute", false, {4, 0x80000000}, imageArea},
        {L"KaCRegistrationEffortLoggingAttribute", false, notOne, effort},
        {L"KaCRegistrationHintsAttribute", true, notOne, hints},
        {L"KaCDisconnectedComponentWarningAttribute", true, notOne, warning},
        {L"KaCJawSemanticsAttribute", false, notOne, jaw}};
}

}  // namespace

// Containers create attributes by class name, and clone those that allow copies.
TEST(AttributeRecords, CreatedByClassNameRoundTripAndRejectUnknownVersionsAndEveryTruncation) {
    for (const Sample& sample : samples()) {
        SCOPED_TRACE(narrow(sample.className));
        const std::vector<uint8_t> record = Write(*sample.attribute);
        CbSmartPointer<KaARTTIAttribute> reader = create(sample.className);
        ASSERT_TRUE(reader);
        EXPECT_EQ(&sample.attribute->GetRTTI(), &reader->GetRTTI());
        EXPECT_EQ(sample.cloneable, CbRTTI::getClone(sample.className) != nullptr);
        EXPECT_EQ(0u, Read(*reader, record));
        EXPECT_EQ(record, Write(*reader));

        for (uint32_t version : sample.unknownVersions) {
            std::vector<uint8_t> unknown = Write(*create(sample.className));
            PatchUInt32(unknown, 0, version);
            EXPECT_THROW(Read(*reader, unknown), CbExceptionWrongFileVersion) << version;
            EXPECT_EQ(record, Write(*reader)) << "changed by version " << version;
        }
        for (size_t length = 0; length < record.size(); ++length) {
            std::vector<uint8_t> prefix(record.begin(), record.begin() + static_cast<long>(length));
            EXPECT_THROW(Read(*create(sample.className), prefix), CbException)
                << "record cut to " << length << " of " << record.size() << " bytes";
        }
    }
}

TEST(AttributeRecords, CorruptCountsThrowClearExceptionsWithoutHugeAllocations) {
    std::vector<Sample> all = samples();
    auto sampleOf = [&](const wchar_t* name) {
        return *std::find_if(all.begin(), all.end(),
                             [&](const Sample& s) { return s.className == name; });
    };
    const std::vector<uint8_t> effort =
        Write(*sampleOf(L"KaCRegistrationEffortLoggingAttribute").attribute);
    // The time stamp log follows version, legacy, reserved and Newton values; the map's
    // entry count follows the log and the map's version.
    const size_t log = 4 + 16 + 16 + 24 + 16;
    const size_t mapCount = log + 4 + 2 * (effort[log] | (effort[log + 1] << 8)) + 4;
    ASSERT_EQ(1u, effort.at(mapCount));
    struct Case {
        const wchar_t* className;
        size_t offset;  // of an unsigned 32-bit count in the sample's record
        uint32_t value;
        const char* message;
    };
    for (const Case& c : std::vector<Case>{
             {L"KaCImageAreaDataAttribute", 4, 0xFFFFFFF0u, "wide string count"},
             {L"KaCRegistrationEffortLoggingAttribute", log, 0x7FFFFFFFu, "wide string count"},
             {L"KaCRegistrationEffortLoggingAttribute", mapCount, 0x40000000u, "map entry count"},
             {L"KaCRegistrationHintsAttribute", 9, 0xFFFFFFFFu, "wide string count"},
             {L"KaCDisconnectedComponentWarningAttribute", 5, 0x10000000u, "wide string count"},
             {L"KaCJawSemanticsAttribute", 33, 0xFFFFFFFFu, "KaCQuantizedNormalBinning"}}) {
        std::vector<uint8_t> record = Write(*sampleOf(c.className).attribute);
        PatchUInt32(record, c.offset, c.value);
        try {
            Read(*create(c.className), record);
            ADD_FAILURE() << narrow(c.className) << " read a corrupt count at " << c.offset;
        } catch (const CbException& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(c.message)) << e.what();
        }
    }
}
