#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting of wide texts with the conventions the project's formats are
// written in: in a wide format "%s" takes a wide string (const wchar_t*), "%S" a narrow
// one and "%c" a wide character. The C library on Linux reads "%s" in vswprintf as a
// narrow string, so the format is rewritten before it is handed on. Integers are read as
// the conversion says: "%d" reads an int, so callers pass 64-bit values cast to int when
// a format prints them with "%d". Narrow strings are UTF-8, and numbers are formatted as in
// the "C" locale, whatever locale the program has set.
std::wstring CbFormatW(const wchar_t* format, ...);
std::wstring CbFormatVW(const wchar_t* format, va_list arguments);

// The rewritten format that vswprintf on this platform understands.
std::wstring CbTranslateWideFormat(const wchar_t* format);
