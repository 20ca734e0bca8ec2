#pragma once

#include <string>
#include <string_view>

#include "platform/harbor/CbStreamWriteASCII.h"

// A text builder in the given character type. Dumps build their text in a wide builder
// and hand it to a CbStreamWriteASCII in one piece with WriteTo.
template <class CharT>
class CbStreamWriteASCIIStringT {
public:
    CbStreamWriteASCIIStringT& operator<<(std::basic_string_view<CharT> text) {
        m_text.append(text);
        return *this;
    }
    CbStreamWriteASCIIStringT& operator<<(const CharT* text) {
        if (text != nullptr) {
            m_text.append(text);
        }
        return *this;
    }
    CbStreamWriteASCIIStringT& operator<<(const std::basic_string<CharT>& text) {
        m_text.append(text);
        return *this;
    }
    CbStreamWriteASCIIStringT& operator<<(CharT character) {
        m_text.push_back(character);
        return *this;
    }

    const std::basic_string<CharT>& GetString() const { return m_text; }
    void WriteTo(CbStreamWriteASCII& stream) const {
        stream << std::basic_string_view<CharT>(m_text);
    }

private:
    std::basic_string<CharT> m_text;
};
