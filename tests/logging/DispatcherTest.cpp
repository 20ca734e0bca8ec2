#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "logging/CNLogLogger.h"
#include "logging/CVoidLogger.h"
#include "logging/Dispatcher.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStringConversion.h"
#include "tests/logging/LogTestSupport.h"

using namespace Logging;
using LogTestSupport::LogThrough;

namespace {

// What the fake entry points below received.
struct SReceived {
    int level = -1;
    const wchar_t* loggerName = nullptr;
    const SourceLocation* location = nullptr;
    const wchar_t* format = nullptr;
    std::wstring text;
    const wchar_t* item = nullptr;
    const wchar_t* value = nullptr;
    int flushValue = -1;
};
SReceived ms_received;

void fakeLog(int level, const wchar_t* loggerName, const SourceLocation* location,
             const wchar_t* format, va_list arguments) {
    ms_received.level = level;
    ms_received.loggerName = loggerName;
    ms_received.location = location;
    ms_received.format = format;
    ms_received.text = CbFormatVW(format, arguments);
}
bool fakeIsLogEnabled(int level, const wchar_t* loggerName) {
    ms_received.level = level;
    ms_received.loggerName = loggerName;
    return level == 2;
}
void fakeSetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) {
    ms_received.item = item;
    ms_received.value = value;
}
void fakeFlush(int value) {
    ms_received.flushValue = value;
}

}  // namespace

TEST(CNLogLoggerTest, ForwardsEveryCallUnchanged) {
    CNLogLogger logger(fakeLog, fakeIsLogEnabled, fakeSetGlobalDiagnosticsContext, fakeFlush);
    const wchar_t* name = L"Tests.Forwarding";
    const SourceLocation location{"file.cpp", 12, "Ns::F"};
    const wchar_t* format = L"%d and %s";

    LogThrough(logger, 4, name, &location, format, 31, L"\u00fcber");
    EXPECT_EQ(ms_received.level, 4);
    EXPECT_EQ(ms_received.loggerName, name);
    EXPECT_EQ(ms_received.location, &location);
    EXPECT_EQ(ms_received.format, format);
    EXPECT_EQ(ms_received.text, L"31 and \u00fcber");

    EXPECT_TRUE(logger.IsLogEnabled(2, L"Tests.A"));
    EXPECT_STREQ(ms_received.loggerName, L"Tests.A");
    EXPECT_FALSE(logger.IsLogEnabled(5, L"Tests.B"));
    EXPECT_EQ(ms_received.level, 5);

    logger.SetGlobalDiagnosticsContext(L"item", L"value");
    EXPECT_STREQ(ms_received.item, L"item");
    EXPECT_STREQ(ms_received.value, L"value");
    logger.Flush(250);
    EXPECT_EQ(ms_received.flushValue, 250);

    EXPECT_THROW(CNLogLogger(fakeLog, fakeIsLogEnabled, fakeSetGlobalDiagnosticsContext, nullptr),
                 CbException);
}

TEST(DispatcherSelectionTest, BackEndWithAllEntryPointsGivesTheNLogDispatcher) {
    EXPECT_NE(dynamic_cast<CNLogLogger*>(SelectDispatcher(c_backEndLibraryName).get()), nullptr);
    // libNLogC.so lies next to liblogging.so, so the process-wide choice found it too.
    EXPECT_NE(dynamic_cast<CNLogLogger*>(&GetDispatcher()), nullptr);
    EXPECT_EQ(&GetDispatcher(), &GetDispatcher());
}

TEST(DispatcherSelectionTest, MissingBackEndOrFlushGivesTheVoidDispatcherThatLogsNothing) {
    EXPECT_NE(dynamic_cast<CVoidLogger*>(SelectDispatcher("libNLogC_absent.so").get()), nullptr);

    // The test-only back end works on its own: point it at a file and enable every level.
    void* library = dlopen(TT_TEST_LIBRARY_DIR "/libNLogC_noflush.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    ASSERT_EQ(dlsym(library, "NLog_Flush"), nullptr);
    auto setContext = reinterpret_cast<CNLogLogger::SetGlobalDiagnosticsContextFunction>(
        dlsym(library, "NLog_SetGlobalDiagnosticsContextW"));
    auto log = reinterpret_cast<CNLogLogger::LogFunction>(dlsym(library, "NLog_CSLogVW"));
    auto isLogEnabled =
        reinterpret_cast<CNLogLogger::IsLogEnabledFunction>(dlsym(library, "NLog_IsLogEnabledW"));
    ASSERT_TRUE(setContext != nullptr && log != nullptr && isLogEnabled != nullptr);
    const std::string path = LogTestSupport::MakeTemporaryPath("noflush.log");
    setContext(L"NLogC.File", CbFromUtf8(path).c_str());
    setContext(L"NLogC.MinLevel", L"0");
    ASSERT_TRUE(isLogEnabled(0, L"Tests.NoFlush"));

    std::unique_ptr<ILogDispatcher> dispatcher = SelectDispatcher("libNLogC_noflush.so");
    EXPECT_NE(dynamic_cast<CVoidLogger*>(dispatcher.get()), nullptr);
    const SourceLocation location{"file.cpp", 1, "F"};
    for (int level = 0; level <= 5; ++level) {
        EXPECT_FALSE(dispatcher->IsLogEnabled(level, L"Tests.NoFlush")) << level;
        LogThrough(*dispatcher, level, L"Tests.NoFlush", &location, L"through dispatcher %d",
                   level);
    }
    // A line written by the library's own entry point is the only one in the file.
    CNLogLogger direct(log, isLogEnabled, setContext, [](int) {});
    LogThrough(direct, 3, L"Tests.NoFlush", &location, L"written directly");
    setContext(L"NLogC.File", L"");  // closes the file, writing out what it holds

    std::vector<std::string> lines = LogTestSupport::ReadLines(path);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" written directly")) << lines[0];
}
