#pragma once

#include <string>
#include <string_view>

#include "platform/harbor/CbStreamWriteASCII.h"

// A text stream that collects what is written in memory.
class CbStreamWriteASCIIString : public CbStreamWriteASCII {
public:
    void WriteText(std::string_view text) override { m_text.append(text); }
    const std::string& GetString() const { return m_text; }

private:
    std::string m_text;
};
