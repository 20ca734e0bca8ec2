#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>
#include <utility>

#include "logging/Logger.h"
#include "tests/support/LogCapture.h"

using namespace Logging;
using ::testing::HasSubstr;

// Sends the process-wide back end's lines to a file of the test and enables info and up.
class LoggerTest : public ::testing::Test {
protected:
    LogCapture m_log{2};
};

TEST_F(LoggerTest, EnabledLevelsReachTheBackEndAndDisabledOnesWriteNothing) {
    using LogOperation =
        void (*)(const CLogger&, const char*, int32_t, const char*, const wchar_t*, ...);
    const LogOperation operations[] = {LogTrace, LogDebug, LogInfo, LogWarning, LogError, LogFatal};
    const CLogger logger(L"Tests.Logging.Levels");
    for (int level = 0; level <= 5; ++level) {
        EXPECT_EQ(IsLogEnabled(logger, level), level >= 2) << level;
        operations[level](logger, "source.cpp", 100 + level, "Ns::CClass::Method",
                          L"level %d of %s", level, L"Z\u00e4hne \u2713");
    }
    LogWarning(CLogger::GetGlobalStaticLogger(), "global.cpp", 7, "Run", L"default logger");

    std::vector<std::string> lines = m_log.Lines();
    ASSERT_EQ(lines.size(), 5u);
    const char* levelNames[] = {"INFO", "WARN", "ERROR", "FATAL"};
    for (int level = 2; level <= 5; ++level) {
        const std::string& line = lines[static_cast<size_t>(level - 2)];
        EXPECT_THAT(line, HasSubstr(std::string(" ") + levelNames[level - 2] +
                                    " Tests.Logging.Levels Ns::CClass::Method (source.cpp:" +
                                    std::to_string(100 + level) + ") "));
        EXPECT_TRUE(
            line.ends_with(") level " + std::to_string(level) + " of Z\xC3\xA4hne \xE2\x9C\x93"))
            << line;
    }
    EXPECT_TRUE(lines[4].ends_with(" WARN Global Static Logger Run (global.cpp:7) default logger"))
        << lines[4];
}

TEST_F(LoggerTest, DiagnosticsContextShowsItemsAndChangesTheLevel) {
    const CLogger logger(L"Tests.Logging.Context");
    ILogDispatcher& dispatcher = GetDispatcher();
    dispatcher.SetGlobalDiagnosticsContext(L"session", L"42");
    dispatcher.SetGlobalDiagnosticsContext(L"user", L"J\u00f6rg");
    LogInfo(logger, "a.cpp", 1, "F", L"both");
    dispatcher.SetGlobalDiagnosticsContext(L"session", L"");
    LogInfo(logger, "a.cpp", 2, "F", L"user only");
    dispatcher.SetGlobalDiagnosticsContext(L"user", nullptr);
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.MinLevel", L"trace");
    EXPECT_TRUE(IsLogEnabled(logger, eTrace));
    LogTrace(logger, "a.cpp", 3, "F", L"no items");
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.MinLevel", L"Off");
    EXPECT_FALSE(IsLogEnabled(logger, eFatal));
    LogFatal(logger, "a.cpp", 4, "F", L"switched off");

    std::vector<std::string> lines = m_log.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].ends_with("(a.cpp:1) [session=42 user=J\xC3\xB6rg] both")) << lines[0];
    EXPECT_TRUE(lines[1].ends_with("(a.cpp:2) [user=J\xC3\xB6rg] user only")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("(a.cpp:3) no items")) << lines[2];
}

TEST_F(LoggerTest, LinesFromConcurrentThreadsStayWhole) {
    const CLogger logger(L"Tests.Logging.Threads");
    constexpr int threadCount = 4;
    constexpr int linesPerThread = 250;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&logger, t] {
            for (int i = 0; i < linesPerThread; ++i) {
                LogWarning(logger, "t.cpp", i, "Worker", L"thread %d line %d %s", t, i, L"end");
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    std::vector<std::string> lines = m_log.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(threadCount * linesPerThread));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : lines) {
        int t = -1;
        int i = -1;
        int location = -1;
        char end[4] = {};
        size_t at = line.find(" WARN Tests.Logging.Threads Worker (t.cpp:");
        ASSERT_NE(at, std::string::npos) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + at,
                              " WARN Tests.Logging.Threads Worker (t.cpp:%d) "
                              "thread %d line %d %3s",
                              &location, &t, &i, end),
                  4)
            << line;
        EXPECT_EQ(location, i);
        EXPECT_STREQ(end, "end");
        seen.emplace(t, i);
    }
    EXPECT_EQ(seen.size(), lines.size());
}
