#include <type_traits>

#include "logging/CNLogLogger.h"
#include "logging/backend/CLogBackend.h"
#include "logging/backend/NLogC.h"

using Logging::Backend::CLogBackend;

// The bridge calls these through pointers of its own types; keep the two in step.
static_assert(std::is_same_v<decltype(&NLog_CSLogVW), Logging::CNLogLogger::LogFunction>);
static_assert(
    std::is_same_v<decltype(&NLog_IsLogEnabledW), Logging::CNLogLogger::IsLogEnabledFunction>);
static_assert(std::is_same_v<decltype(&NLog_SetGlobalDiagnosticsContextW),
                             Logging::CNLogLogger::SetGlobalDiagnosticsContextFunction>);
static_assert(std::is_same_v<decltype(&NLog_Flush), Logging::CNLogLogger::FlushFunction>);

// A line that cannot be put together (out of memory) is dropped: logging never fails its
// caller.
extern "C" {

void NLog_CSLogVW(int level, const wchar_t* loggerName, const SourceLocation* location,
                  const wchar_t* format, va_list arguments) {
    try {
        CLogBackend::GetInstance().Write(level, loggerName, location, format, arguments);
    } catch (...) {
    }
}

bool NLog_IsLogEnabledW(int level, const wchar_t*) {
    return CLogBackend::GetInstance().IsEnabled(level);
}

void NLog_SetGlobalDiagnosticsContextW(const wchar_t* item, const wchar_t* value) {
    try {
        CLogBackend::GetInstance().SetGlobalDiagnosticsContext(item, value);
    } catch (...) {
    }
}

void NLog_Flush(int) {
    CLogBackend::GetInstance().Flush();
}

}  // extern "C"
