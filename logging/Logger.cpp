#include "logging/Logger.h"

#include <cstdarg>

namespace Logging {

namespace {

void logLine(int level, const CLogger& logger, const char* file, int32_t line, const char* function,
             const wchar_t* format, va_list arguments) {
    ILogDispatcher& dispatcher = GetDispatcher();
    if (!dispatcher.IsLogEnabled(level, logger.GetName())) {
        return;
    }
    const SourceLocation location{file, line, function};
    dispatcher.Log(level, logger.GetName(), &location, format, arguments);
}

}  // namespace

bool IsLogEnabled(const CLogger& logger, int level) {
    return GetDispatcher().IsLogEnabled(level, logger.GetName());
}

// One operation per level, each a thin variadic front for logLine.
#define TT_DEFINE_LOG_OPERATION_(operation, level)                                              \
    void operation(const CLogger& logger, const char* file, int32_t line, const char* function, \
                   const wchar_t* format, ...) {                                                \
        va_list arguments;                                                                      \
        va_start(arguments, format);                                                            \
        logLine(level, logger, file, line, function, format, arguments);                        \
        va_end(arguments);                                                                      \
    }

TT_DEFINE_LOG_OPERATION_(LogTrace, eTrace)
TT_DEFINE_LOG_OPERATION_(LogDebug, eDebug)
TT_DEFINE_LOG_OPERATION_(LogInfo, eInfo)
TT_DEFINE_LOG_OPERATION_(LogWarning, eWarning)
TT_DEFINE_LOG_OPERATION_(LogError, eError)
TT_DEFINE_LOG_OPERATION_(LogFatal, eFatal)

#undef TT_DEFINE_LOG_OPERATION_

}  // namespace Logging
