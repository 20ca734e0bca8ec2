#pragma once

#include "platform/harbor/CbException.h"

// Thrown when a matrix that must be inverted has the determinant 0.
class CyExceptionNotInvertible : public CbException {
public:
    CyExceptionNotInvertible(const char* file, int line,
                             std::string message = "matrix not invertible")
        : CbException(file, line, std::move(message)) {}
};
