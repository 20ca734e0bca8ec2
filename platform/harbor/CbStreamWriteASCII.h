#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A text output stream for dumps and reports. Narrow text is written as it is (UTF-8);
// wide text is converted to UTF-8. Concrete streams supply WriteText.
class CbStreamWriteASCII {
public:
    virtual ~CbStreamWriteASCII() = default;
    virtual void WriteText(std::string_view text) = 0;

    CbStreamWriteASCII& operator<<(std::string_view text);
    CbStreamWriteASCII& operator<<(const char* text);
    CbStreamWriteASCII& operator<<(std::wstring_view text);
    CbStreamWriteASCII& operator<<(const wchar_t* text);
    CbStreamWriteASCII& operator<<(int64_t value);
    CbStreamWriteASCII& operator<<(uint64_t value);
    CbStreamWriteASCII& operator<<(int value) { return *this << static_cast<int64_t>(value); }
    CbStreamWriteASCII& operator<<(unsigned value) { return *this << static_cast<uint64_t>(value); }
    CbStreamWriteASCII& operator<<(double value);
};
