#pragma once

#include "platform/harbor/CbException.h"

// Thrown when a record carries a version that this reader does not know.
class CbExceptionWrongFileVersion : public CbException {
public:
    CbExceptionWrongFileVersion(const char* file, int line,
                                std::string message = "wrong file version")
        : CbException(file, line, std::move(message)) {}
};
