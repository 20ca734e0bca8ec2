#pragma once

#include <cstdarg>

#include "logging/SourceLocation.h"

// The C interface of the logging back end, the four entry points that the logging bridge
// looks up by name after loading the library. Every entry point may be called from any
// thread and none lets an exception escape.

#define NLOGC_EXPORT __attribute__((visibility("default")))

extern "C" {

// Writes one line if `level` is enabled: `format` is filled from `arguments` with
// wide-string conventions ("%s" takes a const wchar_t*).
NLOGC_EXPORT void NLog_CSLogVW(int level, const wchar_t* loggerName, const SourceLocation* location,
                               const wchar_t* format, va_list arguments);

// Whether lines of `level` are written; levels run from 0 (trace) to 5 (fatal).
NLOGC_EXPORT bool NLog_IsLogEnabledW(int level, const wchar_t* loggerName);

// Sets an item that every following line shows as item=value; an empty or null value
// removes it. The items "NLogC.MinLevel" (a level number or name, "Off" for none) and
// "NLogC.File" (a path to append to; empty for standard error) change the configuration.
NLOGC_EXPORT void NLog_SetGlobalDiagnosticsContextW(const wchar_t* item, const wchar_t* value);

// Writes out buffered lines. `value` is accepted for compatibility and not used.
NLOGC_EXPORT void NLog_Flush(int value);

}  // extern "C"
