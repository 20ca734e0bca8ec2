#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Conversions between the in-memory wide strings (one code point per wchar_t on Linux)
// and the UTF-8 and UTF-16 forms used for text output and binary streams.
//
// Conversions are lossless for every sequence of wchar_t values that are valid code
// points or lone surrogates: a lone surrogate travels as that single UTF-16 unit and
// comes back as the same wchar_t. Values above U+10FFFF become U+FFFD. Where wchar_t holds
// code points, a high surrogate directly followed by a low one cannot survive UTF-16: the
// two come back as the one code point that the pair encodes.

std::string CbToUtf8(std::wstring_view text);
// Invalid UTF-8 bytes decode to U+FFFD each.
std::wstring CbFromUtf8(std::string_view text);

void CbAppendUtf16(std::wstring_view text, std::vector<uint16_t>& units);
std::wstring CbFromUtf16(const uint16_t* units, size_t count);
