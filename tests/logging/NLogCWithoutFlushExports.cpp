#include "logging/backend/CLogBackend.h"
#include "logging/backend/NLogC.h"

// The real back end minus NLog_Flush, for the tests of dispatcher selection.

using Logging::Backend::CLogBackend;

extern "C" {

void NLog_CSLogVW(int level, const wchar_t* loggerName, const SourceLocation* location,
                  const wchar_t* format, va_list arguments) {
    CLogBackend::GetInstance().Write(level, loggerName, location, format, arguments);
}

bool NLog_IsLogEnabledW(int level, const wchar_t*) {
    return CLogBackend::GetInstance().IsEnabled(level);
}

void NLog_SetGlobalDiagnosticsContextW(const wchar_t* item, const wchar_t* value) {
    CLogBackend::GetInstance().SetGlobalDiagnosticsContext(item, value);
}

}  // extern "C"
