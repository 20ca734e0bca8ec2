#pragma once

#include "platform/harbor/CbException.h"

// Thrown when an extension was asked for by a name the object does not know.
class CbExceptionUnknownExtension : public CbException {
public:
    CbExceptionUnknownExtension(const char* file, int line,
                                std::string message = "unknown extension")
        : CbException(file, line, std::move(message)) {}
};
