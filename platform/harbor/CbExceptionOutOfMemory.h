#pragma once

#include "platform/harbor/CbException.h"

// Thrown when an allocation failed.
class CbExceptionOutOfMemory : public CbException {
public:
    CbExceptionOutOfMemory(const char* file, int line, std::string message = "out of memory")
        : CbException(file, line, std::move(message)) {}
};
