#pragma once

#include <cstdint>

#include "logging/CLogger.h"
#include "logging/Dispatcher.h"
#include "logging/FunctionName.h"

// Writing lines through named loggers. Each operation first asks the process-wide
// dispatcher whether the level is enabled for the logger and does nothing else when it is
// not; the back end fills the wide format from the arguments ("%s" takes a const wchar_t*,
// "%d" an int). Callable from any thread; nothing throws.
namespace Logging {

// The levels a line can have, passed to the back end as these integers.
enum ELogLevel : int { eTrace = 0, eDebug = 1, eInfo = 2, eWarning = 3, eError = 4, eFatal = 5 };

bool IsLogEnabled(const CLogger& logger, int level);

void LogTrace(const CLogger& logger, const char* file, int32_t line, const char* function,
              const wchar_t* format, ...);
void LogDebug(const CLogger& logger, const char* file, int32_t line, const char* function,
              const wchar_t* format, ...);
void LogInfo(const CLogger& logger, const char* file, int32_t line, const char* function,
             const wchar_t* format, ...);
void LogWarning(const CLogger& logger, const char* file, int32_t line, const char* function,
                const wchar_t* format, ...);
void LogError(const CLogger& logger, const char* file, int32_t line, const char* function,
              const wchar_t* format, ...);
void LogFatal(const CLogger& logger, const char* file, int32_t line, const char* function,
              const wchar_t* format, ...);

}  // namespace Logging

// TT_LOG_WARNING(logger, L"format", arguments...) and so on: log with the current file,
// line and qualified function name. The function name is computed at compile time.
#define TT_LOG_TRACE(logger, ...) TT_LOG_AT_SOURCE_(LogTrace, logger, __VA_ARGS__)
#define TT_LOG_DEBUG(logger, ...) TT_LOG_AT_SOURCE_(LogDebug, logger, __VA_ARGS__)
#define TT_LOG_INFO(logger, ...) TT_LOG_AT_SOURCE_(LogInfo, logger, __VA_ARGS__)
#define TT_LOG_WARNING(logger, ...) TT_LOG_AT_SOURCE_(LogWarning, logger, __VA_ARGS__)
#define TT_LOG_ERROR(logger, ...) TT_LOG_AT_SOURCE_(LogError, logger, __VA_ARGS__)
#define TT_LOG_FATAL(logger, ...) TT_LOG_AT_SOURCE_(LogFatal, logger, __VA_ARGS__)

#define TT_LOG_AT_SOURCE_(operation, logger, ...)                                     \
    do {                                                                              \
        static constexpr auto ttLogFunctionName_ = ::Logging::MakeFunctionNameText<   \
            ::Logging::GetQualifiedFunctionName(__PRETTY_FUNCTION__).size()>(         \
            ::Logging::GetQualifiedFunctionName(__PRETTY_FUNCTION__));                \
        ::Logging::operation((logger), __FILE__, __LINE__, ttLogFunctionName_.data(), \
                             __VA_ARGS__);                                            \
    } while (false)
