#pragma once

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbMatrix4Rf.h"

// Matrix operations that work in place.
namespace CbMatrixInternal {

// Inverts `matrix` in place and reports its determinant. A matrix whose determinant is
// exactly 0 is left unchanged; callers test the determinant and throw
// CyExceptionNotInvertible for 0.
void Invert(CbMatrix4Rd& matrix, double& determinant);
void Invert(CbMatrix4Rf& matrix, float& determinant);

}  // namespace CbMatrixInternal
