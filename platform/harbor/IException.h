#pragma once

#include <exception>

// Root of every exception of the project. Derives from std::exception so that code
// outside the project can catch it too; what() returns a UTF-8 text.
class IException : public std::exception {
public:
    ~IException() override = default;
};
