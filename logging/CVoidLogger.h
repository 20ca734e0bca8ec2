#pragma once

#include "logging/ILogDispatcher.h"

namespace Logging {

// The dispatcher used when no back end is available: every level of every logger is
// disabled and every operation does nothing.
// Thread safety: stateless, callable from any thread. Throws: nothing.
class CVoidLogger final : public ILogDispatcher {
public:
    void Log(int level, const wchar_t* loggerName, const SourceLocation* location,
             const wchar_t* format, va_list arguments) override;
    bool IsLogEnabled(int level, const wchar_t* loggerName) override;
    void SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) override;
    void Flush(int value) override;
};

}  // namespace Logging
