#include "logging/CVoidLogger.h"

namespace Logging {

void CVoidLogger::Log(int, const wchar_t*, const SourceLocation*, const wchar_t*, va_list) {}

bool CVoidLogger::IsLogEnabled(int, const wchar_t*) {
    return false;
}

void CVoidLogger::SetGlobalDiagnosticsContext(const wchar_t*, const wchar_t*) {}

void CVoidLogger::Flush(int) {}

}  // namespace Logging
