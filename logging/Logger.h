#pragma once

#include <cstdint>

#include "logging/CLogger.h"
#include "logging/Dispatcher.h"

// Writing lines through named loggers. Each operation first asks the process-wide
// dispatcher whether the level is enabled for the logger and does nothing else when it is
// not. The caller names the source file, line and qualified function a line is to carry:
// for a line written by a helper, the public operation it works for. The back end fills
// the wide format from the arguments ("%s" takes a const wchar_t*, "%d" an int).
// Callable from any thread; nothing throws.
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
