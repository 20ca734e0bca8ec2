#include "tests/logging/LogTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <fstream>

namespace LogTestSupport {

void LogThrough(Logging::ILogDispatcher& dispatcher, int level, const wchar_t* loggerName,
                const SourceLocation* location, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    dispatcher.Log(level, loggerName, location, format, arguments);
    va_end(arguments);
}

std::string MakeTemporaryPath(const std::string& name) {
    return ::testing::TempDir() + "tt_logging_" + std::to_string(getpid()) + "_" + name;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace LogTestSupport
