#pragma once

#include <string>
#include <vector>

#include "logging/ILogDispatcher.h"

// Helpers shared by the logging tests.
namespace LogTestSupport {

// Calls dispatcher.Log with the variadic arguments as a va_list.
void LogThrough(Logging::ILogDispatcher& dispatcher, int level, const wchar_t* loggerName,
                const SourceLocation* location, const wchar_t* format, ...);

// A path in the temporary folder that no other test process uses; nothing is created.
std::string MakeTemporaryPath(const std::string& name);

// The lines of a text file without their line ends; none when it does not exist.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace LogTestSupport
