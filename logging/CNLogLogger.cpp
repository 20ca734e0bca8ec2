#include "logging/CNLogLogger.h"

#include "platform/harbor/CbException.h"

namespace Logging {

CNLogLogger::CNLogLogger(LogFunction log, IsLogEnabledFunction isLogEnabled,
                         SetGlobalDiagnosticsContextFunction setGlobalDiagnosticsContext,
                         FlushFunction flush)
    : m_log(log)
    , m_isLogEnabled(isLogEnabled)
    , m_setGlobalDiagnosticsContext(setGlobalDiagnosticsContext)
    , m_flush(flush) {
    if (m_log == nullptr || m_isLogEnabled == nullptr || m_setGlobalDiagnosticsContext == nullptr ||
        m_flush == nullptr) {
        CB_THROW(CbException, "every entry point of the logging back end is required");
    }
}

void CNLogLogger::Log(int level, const wchar_t* loggerName, const SourceLocation* location,
                      const wchar_t* format, va_list arguments) {
    m_log(level, loggerName, location, format, arguments);
}

bool CNLogLogger::IsLogEnabled(int level, const wchar_t* loggerName) {
    return m_isLogEnabled(level, loggerName);
}

void CNLogLogger::SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) {
    m_setGlobalDiagnosticsContext(item, value);
}

void CNLogLogger::Flush(int value) {
    m_flush(value);
}

}  // namespace Logging
