#pragma once

#include <string>

#include "logging/CLogger.h"

// The application's log writer: formats a line (wide "%s" takes a wide string) and
// writes it at info level through a named logger (default "Application.Log"), so that it
// goes wherever the logging back end sends lines. Thread-safe.
class KaCWinLog {
public:
    explicit KaCWinLog(std::wstring loggerName = L"Application.Log");

    void LogF(const wchar_t* format, ...) const;
    const Logging::CLogger& GetLogger() const { return m_logger; }

private:
    Logging::CLogger m_logger;
};
