#pragma once

#include "platform/harbor/CbException.h"

// Thrown when an argument or state that the operation requires is missing.
class CbExceptionPreconditionViolation : public CbException {
public:
    CbExceptionPreconditionViolation(const char* file, int line,
                                     std::string message = "precondition violation")
        : CbException(file, line, std::move(message)) {}
};
