#pragma once

#include <cstdarg>

#include "logging/SourceLocation.h"

namespace Logging {

// The interface through which named loggers reach a logging back end. The order of the
// virtual operations is fixed: destructor, Log, IsLogEnabled, SetGlobalDiagnosticsContext,
// Flush. Thread safety: implementations must accept calls from any thread at any time.
// Throws: no operation throws.
class ILogDispatcher {
public:
    virtual ~ILogDispatcher() = default;

    // Writes one line: `format` filled from `arguments` with wide-string conventions
    // ("%s" takes a const wchar_t*).
    virtual void Log(int level, const wchar_t* loggerName, const SourceLocation* location,
                     const wchar_t* format, va_list arguments) = 0;
    // Whether lines of `level` from the logger named `loggerName` are written.
    virtual bool IsLogEnabled(int level, const wchar_t* loggerName) = 0;
    virtual void SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) = 0;
    virtual void Flush(int value) = 0;

protected:
    ILogDispatcher() = default;
    ILogDispatcher(const ILogDispatcher&) = default;
    ILogDispatcher& operator=(const ILogDispatcher&) = default;
};

}  // namespace Logging
