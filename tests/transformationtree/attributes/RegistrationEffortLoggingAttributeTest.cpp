#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"

using namespace AttributeTestSupport;

namespace {

using Effort = KaCRegistrationEffortLoggingAttribute;

// A record written field by field, up to the end of the time stamp log (76 + 4 + 2 * 17
// bytes), followed by a duration map of `entries` (name, duration) pairs.
std::vector<uint8_t> record(const std::vector<std::pair<std::wstring, double>>& entries,
                            double reserved = 0.0) {
    CbStreamWriteBinaryBuffer s;
    s.WriteVersion(1);
    for (uint32_t legacy : {5u, 6u, 1u, 2u}) {
        s.WriteUInt32(legacy);
    }
    // Legacy values 3 and 4, the reserved values, the maximum and mean Newton error.
    for (double value : {3.5, 4.5, reserved, reserved, reserved, 0.125, 0.0625}) {
        s.WriteDouble(value);
    }
    s.WriteWideString(L"@1.0 (1.0) start\n");
    s.WriteVersion(0);
    s.WriteUInt32(static_cast<uint32_t>(entries.size()));
    for (const auto& [name, duration] : entries) {
        s.WriteWideString(name);
        s.WriteDouble(duration);
    }
    return s.GetBuffer();
}
constexpr size_t c_mapOffset = 76 + 4 + 2 * 17;

}  // namespace

TEST(KaCRegistrationEffortLoggingAttribute, AccumulatesPerCodeAndConsultsFailureCodesInOrder) {
    Effort effort;
    EXPECT_EQ(-1.0, effort.GetResultEffortTime(3));
    EXPECT_EQ(4294967295u, effort.GetResultEffortIterations(3));
    EXPECT_EQ(4294967295u, effort.GetResultEffortNumRuns(3));
    EXPECT_EQ(0u, effort.GetAccumulatedICPSuccessNumRuns());
    effort.AccumulateResultEfforts(2, 1.5, 10);
    effort.AccumulateResultEfforts(2, 1.5, 10);
    EXPECT_EQ(3.0, effort.GetAccumulatedICPSuccessTime());
    EXPECT_EQ(20u, effort.GetAccumulatedICPSuccessNumIterations());
    EXPECT_EQ(2u, effort.GetAccumulatedICPSuccessNumRuns());
    EXPECT_EQ(20u, effort.GetResultEffortIterations(2));
    EXPECT_EQ(0u, effort.GetAccumulatedICPFailureNumRuns());  // a success is no failure

    effort.AccumulateResultEfforts(10, 0.25, 1);
    EXPECT_EQ(1u, effort.GetAccumulatedICPFailureNumIterations());  // the last code counts
    effort.AccumulateResultEfforts(5, 5.0, 50);
    effort.AccumulateResultEfforts(4, 4.0, 40);
    effort.AccumulateResultEfforts(4, 4.0, 40);
    effort.AccumulateResultEfforts(7, 7.0, 70);
    EXPECT_EQ(2u, effort.GetAccumulatedICPFailureNumRuns());  // 4 before 7 and 5
    EXPECT_EQ(80u, effort.GetAccumulatedICPFailureNumIterations());
    EXPECT_EQ(8.0, effort.GetAccumulatedICPFailureTime());
    effort.AccumulateResultEfforts(-1, 0.5, 3);
    EXPECT_EQ(0.5, effort.GetAccumulatedICPFailureTime());  // -1 first of all
}

TEST(KaCRegistrationEffortLoggingAttribute, LogsATimeStampLinePerCallWithTheTotalAndTheStep) {
    Effort effort;
    effort.AddTimeStamp(L"start");
    effort.AddTimeStamp(L"icp done");
    const std::wregex twoLines(
        L"@([0-9]+\\.[0-9]) \\([0-9]+\\.[0-9]\\) start\n@([0-9]+\\.[0-9]) \\([0-9]+\\.[0-9]\\) "
        L"icp done\n");
    const std::wstring log = effort.GetTimeStampLog();
    std::wsmatch match;
    ASSERT_TRUE(std::regex_match(log, match, twoLines)) << std::string(log.begin(), log.end());
    EXPECT_LE(std::stod(match[1].str()), std::stod(match[2].str()));  // totals never go back
}

TEST(KaCRegistrationEffortLoggingAttribute, RecordKeepsLegacyValuesButNotResultEfforts) {
    Effort reader;
    reader.AccumulateResultEfforts(4, 2.0, 3);
    ASSERT_EQ(0u, Read(reader, record({{L"icp", 1.0}, {L"merge", 2.0}, {L"icp", 4.0}})));
    EXPECT_EQ(0.125, reader.GetMaxNewtonError());
    EXPECT_EQ(0.0625, reader.GetMeanNewtonError());
    EXPECT_EQ(L"@1.0 (1.0) start\n", reader.GetTimeStampLog());
    CbMap<std::wstring, double> durations = reader.GetSubTaskDurationLog();
    EXPECT_EQ(2u, durations.GetCount());
    EXPECT_EQ(4.0, *durations.Find(L"icp"));  // the last of a repeated name wins
    EXPECT_EQ(2.0, reader.GetResultEffortTime(4));

    // Written back field for field: legacy values in their places, reserved values 0.0.
    ASSERT_EQ(0u, Read(reader, record({{L"icp", 4.0}}, 7.0)));
    EXPECT_EQ(record({{L"icp", 4.0}}), Write(reader));

    EXPECT_TRUE(reader.ResetAttribute());
    EXPECT_EQ(-1.0, reader.GetResultEffortTime(4));
    const std::vector<uint8_t> reset = Write(reader);
    std::vector<uint8_t> expected = record({});
    std::fill(expected.begin() + 60, expected.begin() + 76, 0);             // Newton errors 0
    expected.erase(expected.begin() + 80, expected.begin() + c_mapOffset);  // empty log
    PatchUInt32(expected, 76, 0);
    EXPECT_EQ(expected, reset);  // only the legacy values are left
}
