#include "platform/harbor/CbStreamWriteASCII.h"

#include <cstdio>

#include "platform/harbor/CbStringConversion.h"

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(std::string_view text) {
    WriteText(text);
    return *this;
}

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(const char* text) {
    return *this << std::string_view(text ? text : "");
}

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(std::wstring_view text) {
    WriteText(CbToUtf8(text));
    return *this;
}

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(const wchar_t* text) {
    return *this << std::wstring_view(text ? text : L"");
}

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(int64_t value) {
    return *this << std::to_string(value);
}
CbStreamWriteASCII& CbStreamWriteASCII::operator<<(uint64_t value) {
    return *this << std::to_string(value);
}

CbStreamWriteASCII& CbStreamWriteASCII::operator<<(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.17g", value);
    return *this << std::string_view(buffer);
}
