#pragma once

#include <cmath>

// Policy of KaTQuantizedNormalMultiLevel: how a vector type is read and built, and how an
// octahedral coordinate is rounded to its grid. The fast policy rounds each coordinate to
// the nearest grid value independently (one candidate, no search among the neighbouring
// codes), which keeps encoding branch-light at the price of a slightly larger worst-case
// error than an exhaustive search would give.
// Stateless; thread-safe; nothing throws.
struct KaTQuantizedNormalMultiLevelTraitsFast {
    template <class Vector>
    static float Component(const Vector& vector, int axis) {
        return vector[axis];
    }

    template <class Vector>
    static Vector MakeVector(float x, float y, float z) {
        return Vector(x, y, z);
    }

    // Nearest integer, halves away from zero (as std::lround) for |value| < 2^23; larger
    // magnitudes give +-2^23 and NaN gives 0. No library call and no branch, so that loops
    // over many normals vectorise.
    static int RoundToGrid(float value) {
        constexpr float c_limit = 8388608.0f;  // 2^23: every float above is an integer
        const float magnitude = std::fabs(value);
        const float bounded =
            magnitude < c_limit ? magnitude : (magnitude >= c_limit ? c_limit : 0.0f);
        const int whole = static_cast<int>(bounded);
        const int rounded = whole + (bounded - static_cast<float>(whole) >= 0.5f ? 1 : 0);
        return value < 0.0f ? -rounded : rounded;
    }
};
