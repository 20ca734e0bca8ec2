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

    // Nearest integer of a value in [-scale, scale]; halves round away from zero.
    static int RoundToGrid(float value) { return static_cast<int>(std::lround(value)); }
};
