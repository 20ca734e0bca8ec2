#pragma once

#include "logging/ILogDispatcher.h"

namespace Logging {

// The dispatcher for a loaded back end: it holds the back end's four C entry points and
// forwards every call to them unchanged, returning what they return.
// Thread safety: immutable after construction; as thread-safe as the back end itself.
// Throws: the constructor throws CbException when an entry point is null; nothing else.
class CNLogLogger final : public ILogDispatcher {
public:
    using LogFunction = void (*)(int level, const wchar_t* loggerName,
                                 const SourceLocation* location, const wchar_t* format,
                                 va_list arguments);
    using IsLogEnabledFunction = bool (*)(int level, const wchar_t* loggerName);
    using SetGlobalDiagnosticsContextFunction = void (*)(const wchar_t* item, const wchar_t* value);
    using FlushFunction = void (*)(int value);

    CNLogLogger(LogFunction log, IsLogEnabledFunction isLogEnabled,
                SetGlobalDiagnosticsContextFunction setGlobalDiagnosticsContext,
                FlushFunction flush);

    void Log(int level, const wchar_t* loggerName, const SourceLocation* location,
             const wchar_t* format, va_list arguments) override;
    bool IsLogEnabled(int level, const wchar_t* loggerName) override;
    void SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) override;
    void Flush(int value) override;

private:
    // In the order the back end's entry points are looked up.
    LogFunction m_log;
    IsLogEnabledFunction m_isLogEnabled;
    SetGlobalDiagnosticsContextFunction m_setGlobalDiagnosticsContext;
    FlushFunction m_flush;
};

}  // namespace Logging
