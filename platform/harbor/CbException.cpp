#include "platform/harbor/CbException.h"

#include "platform/harbor/CbStringConversion.h"

CbException::CbException(const char* file, int line, std::string message)
    : m_file(file ? file : ""), m_line(line), m_message(std::move(message)) {
    if (m_message.empty()) {
        m_what = "exception at " + m_file + ":" + std::to_string(m_line);
    } else {
        m_what = m_message + " (" + m_file + ":" + std::to_string(m_line) + ")";
    }
}

CbException::CbException(const char* file, int line, const std::wstring& message)
    : CbException(file, line, CbToUtf8(message)) {}

std::wstring CbException::GetMessageW() const {
    return CbFromUtf8(m_message);
}
