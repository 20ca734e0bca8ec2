#include "platform/harbor/CbFormat.h"

#include <locale.h>

#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

bool isFlag(wchar_t c) {
    return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0';
}
bool isLengthModifier(wchar_t c) {
    return c == L'h' || c == L'l' || c == L'L' || c == L'z' || c == L'j' || c == L't' || c == L'q';
}

// Narrow arguments are UTF-8 text, whatever locale the program runs in; vswprintf decodes
// them with the thread's locale, so formatting runs in a UTF-8 one (numbers as in "C").
class Utf8LocaleScope {
public:
    Utf8LocaleScope() {
        static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (utf8 != static_cast<locale_t>(0)) {
            m_previous = uselocale(utf8);
        }
    }
    ~Utf8LocaleScope() {
        if (m_previous != static_cast<locale_t>(0)) {
            uselocale(m_previous);
        }
    }
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t m_previous = static_cast<locale_t>(0);
};

}  // namespace

std::wstring CbTranslateWideFormat(const wchar_t* format) {
    std::wstring out;
    if (format == nullptr) {
        return out;
    }
    const wchar_t* p = format;
    while (*p != L'\0') {
        if (*p != L'%') {
            out.push_back(*p++);
            continue;
        }
        out.push_back(*p++);
        if (*p == L'%') {
            out.push_back(*p++);
            continue;
        }
        // Copy flags, width, precision and length modifiers unchanged.
        while (*p != L'\0' &&
               (isFlag(*p) || std::iswdigit(static_cast<wint_t>(*p)) || *p == L'*' || *p == L'.')) {
            out.push_back(*p++);
        }
        bool hasLength = false;
        while (*p != L'\0' && isLengthModifier(*p)) {
            hasLength = true;
            out.push_back(*p++);
        }
        if (*p == L'\0') {
            break;
        }
        wchar_t conversion = *p++;
        if (!hasLength && (conversion == L's' || conversion == L'c')) {
            out.push_back(L'l');
            out.push_back(conversion);
        } else if (!hasLength && conversion == L'S') {
            out.push_back(L's');
        } else if (!hasLength && conversion == L'C') {
            out.push_back(L'c');
        } else {
            out.push_back(conversion);
        }
    }
    return out;
}

std::wstring CbFormatVW(const wchar_t* format, va_list arguments) {
    std::wstring translated = CbTranslateWideFormat(format);
    Utf8LocaleScope locale;
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, arguments);
        int written = std::vswprintf(buffer.data(), buffer.size(), translated.c_str(), copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size()) {
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        }
        // vswprintf reports only failure, not the size it needs; a format error also
        // fails, so stop growing at a sane bound and return what the format says.
        if (buffer.size() >= (size_t{1} << 20)) {
            return translated;
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::wstring CbFormatW(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::wstring text = CbFormatVW(format, arguments);
    va_end(arguments);
    return text;
}
