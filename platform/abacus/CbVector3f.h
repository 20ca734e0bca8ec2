#pragma once

#include <cmath>

// A 3-vector of floats: positions, directions and normals of surfels.
struct CbVector3f {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr CbVector3f() = default;
    constexpr CbVector3f(float ax, float ay, float az) : x(ax), y(ay), z(az) {}

    constexpr float operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    float& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }

    constexpr CbVector3f operator+(const CbVector3f& o) const {
        return {x + o.x, y + o.y, z + o.z};
    }
    constexpr CbVector3f operator-(const CbVector3f& o) const {
        return {x - o.x, y - o.y, z - o.z};
    }
    constexpr CbVector3f operator-() const { return {-x, -y, -z}; }
    constexpr CbVector3f operator*(float s) const { return {x * s, y * s, z * s}; }
    CbVector3f& operator+=(const CbVector3f& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
    constexpr bool operator==(const CbVector3f& o) const = default;

    constexpr float Dot(const CbVector3f& o) const { return x * o.x + y * o.y + z * o.z; }
    constexpr CbVector3f Cross(const CbVector3f& o) const {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    float Length() const { return std::sqrt(Dot(*this)); }
    // The unit vector in this direction, or the zero vector for the zero vector.
    CbVector3f Normalized() const {
        float length = Length();
        return length > 0.0f ? *this * (1.0f / length) : CbVector3f();
    }
};
