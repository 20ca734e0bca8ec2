#pragma once

#include <string>

#include "platform/harbor/IException.h"

// An exception that names the source location that threw it and carries a message.
// Thrown by value, caught as CbException or IException. The message is UTF-8; the
// wide form is derived on demand.
class CbException : public IException {
public:
    CbException(const char* file, int line, std::string message = std::string());
    CbException(const char* file, int line, const std::wstring& message);
    ~CbException() override = default;

    const char* GetFile() const { return m_file.c_str(); }
    int GetLine() const { return m_line; }
    const std::string& GetMessage() const { return m_message; }
    std::wstring GetMessageW() const;

    // "message (file:line)", or "exception at file:line" without a message.
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_file;
    int m_line;
    std::string m_message;
    std::string m_what;
};

// Throws `Type` built from the current source location and the remaining arguments.
#define CB_THROW(Type, ...) throw Type(__FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
