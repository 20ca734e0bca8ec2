#pragma once

#include <string>

#include "platform/abacus/CbMatrix4Rd.h"

// Tells whether a 4x4 matrix in the library's storage order (row vectors, p × M: the
// rotation R in the upper 3x3 block, the translation in the fourth row) is a rigid
// transformation: every value finite, the fourth column (the projective part) 0, 0, 0, 1,
// R orthonormal (every entry of R × Rᵀ within ms_tolerance of the identity's) and
// det R = +1. The projective part may differ from 0, 0, 0, 1 by ms_tolerance as well.
//
// A tolerance of 1e-5 takes poses printed with six significant digits (C's %g, the default
// of iostreams), and refuses any scale that differs from 1 by more than 5e-6 (half a
// micrometre over 100 mm). Stateless.
class RigidTransform {
public:
    static constexpr double ms_tolerance = 1e-5;

    // Empty for a rigid transformation, else what is wrong with it, in words for the user.
    // `columnVectors` words the projective part as the fourth row, as a user of the
    // transposed (column-vector) form writes it.
    static std::string Fault(const CbMatrix4Rd& trafo, bool columnVectors = false);
    // `trafo` with the projective part set to exactly 0, 0, 0, 1.
    static CbMatrix4Rd WithExactProjectivePart(const CbMatrix4Rd& trafo);

private:
    static std::string finiteFault(const CbMatrix4Rd& trafo);
    static std::string projectiveFault(const CbMatrix4Rd& trafo, bool columnVectors);
    static std::string rotationFault(const CbMatrix4Rd& trafo);
};
