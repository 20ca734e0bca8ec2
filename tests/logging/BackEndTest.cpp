#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "logging/CNLogLogger.h"
#include "platform/harbor/CbStringConversion.h"
#include "tests/logging/LogTestSupport.h"

using Logging::CNLogLogger;

namespace {

template <typename Function>
Function entryPoint(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

}  // namespace

// The back end reads its configuration once, when it is first used. This process uses
// libNLogC.so already, so a fresh copy under a name not loaded before is used instead.
TEST(BackEndTest, ReadsLevelAndFileFromTheEnvironmentOnce) {
    static int ms_copies = 0;
    const std::string copy = LogTestSupport::MakeTemporaryPath("libNLogC_environment_" +
                                                               std::to_string(++ms_copies) + ".so");
    const std::string path = LogTestSupport::MakeTemporaryPath("environment.log");
    std::filesystem::copy_file(TT_TEST_LIBRARY_DIR "/libNLogC.so", copy,
                               std::filesystem::copy_options::overwrite_existing);
    void* library = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::filesystem::remove(copy);
    ASSERT_NE(library, nullptr) << dlerror();
    CNLogLogger backEnd(
        entryPoint<CNLogLogger::LogFunction>(library, "NLog_CSLogVW"),
        entryPoint<CNLogLogger::IsLogEnabledFunction>(library, "NLog_IsLogEnabledW"),
        entryPoint<CNLogLogger::SetGlobalDiagnosticsContextFunction>(
            library, "NLog_SetGlobalDiagnosticsContextW"),
        entryPoint<CNLogLogger::FlushFunction>(library, "NLog_Flush"));

    setenv("NLOGC_LEVEL", "Debug", 1);
    setenv("NLOGC_FILE", path.c_str(), 1);
    const bool traceEnabled = backEnd.IsLogEnabled(0, L"Tests.Environment");
    unsetenv("NLOGC_LEVEL");
    unsetenv("NLOGC_FILE");
    EXPECT_FALSE(traceEnabled);
    EXPECT_TRUE(backEnd.IsLogEnabled(1, L"Tests.Environment"));

    const SourceLocation location{"env.cpp", 5, "Env"};
    LogTestSupport::LogThrough(backEnd, 1, L"Tests.Environment", &location, L"from %s", L"env");
    LogTestSupport::LogThrough(backEnd, 0, L"Tests.Environment", &location, L"too low");
    backEnd.Flush(0);
    std::vector<std::string> lines = LogTestSupport::ReadLines(path);
    backEnd.SetGlobalDiagnosticsContext(L"NLogC.File", L"");
    std::filesystem::remove(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(" DEBUG Tests.Environment Env (env.cpp:5) from env"))
        << lines[0];
}
