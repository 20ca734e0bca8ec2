#include "platform/tidewell/KaCWinLog.h"

#include <cstdarg>

#include "logging/Logger.h"
#include "platform/harbor/CbFormat.h"

KaCWinLog::KaCWinLog(std::wstring loggerName) : m_logger(std::move(loggerName)) {}

void KaCWinLog::LogF(const wchar_t* format, ...) const {
    if (!Logging::IsLogEnabled(m_logger, Logging::eInfo)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::wstring text = CbFormatVW(format, arguments);
    va_end(arguments);
    Logging::LogInfo(m_logger, __FILE__, __LINE__, "KaCWinLog::LogF", L"%s", text.c_str());
}
