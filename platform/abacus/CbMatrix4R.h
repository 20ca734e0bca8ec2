#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <type_traits>

#include "platform/abacus/CbVector3f.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A 4x4 matrix stored row-major: element (r, c) is value 4r + c of the 16 stored values.
// Points are row vectors: p maps to p × M, with the translation in the fourth row (values
// 12, 13, 14). So A × B applies A first, then B, and a node's relative transformation
// multiplies on the left of its father's. Products are C(r,c) = sum over k of
// A(r,k)·B(k,c); the arithmetic is done by Eigen on the stored values.
//
// A plain value: copied freely, no alignment requirements, default-constructed as the
// identity.
template <class T>
class CbMatrix4R {
public:
    using value_type = T;

    constexpr CbMatrix4R() : m_values{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}
    constexpr explicit CbMatrix4R(const std::array<T, 16>& values) : m_values(values) {}
    // Element-wise conversion from the other precision, rounding to nearest; values beyond
    // the range of T become infinities of their sign.
    template <class U>
    constexpr explicit CbMatrix4R(const CbMatrix4R<U>& other) : m_values{} {
        for (size_t i = 0; i < 16; ++i) {
            m_values[i] = convert(other.Data()[i]);
        }
    }

    static constexpr CbMatrix4R Identity() { return CbMatrix4R(); }
    static constexpr CbMatrix4R Zero() { return CbMatrix4R(std::array<T, 16>{}); }
    // The translation by (x, y, z).
    static constexpr CbMatrix4R Translation(T x, T y, T z) {
        CbMatrix4R m;
        m(3, 0) = x;
        m(3, 1) = y;
        m(3, 2) = z;
        return m;
    }

    constexpr T& operator()(size_t row, size_t column) { return m_values[4 * row + column]; }
    constexpr const T& operator()(size_t row, size_t column) const {
        return m_values[4 * row + column];
    }
    constexpr T& operator[](size_t index) { return m_values[index]; }
    constexpr const T& operator[](size_t index) const { return m_values[index]; }
    T* Data() { return m_values.data(); }
    constexpr const T* Data() const { return m_values.data(); }

    // Exact comparison of all 16 values.
    constexpr bool operator==(const CbMatrix4R& other) const = default;

    // C(r,c) = A(r,0)·B(0,c) + A(r,1)·B(1,c) + A(r,2)·B(2,c) + A(r,3)·B(3,c), summed in
    // that order. Inline and written out: it is the innermost step of every tree walk, and
    // the compiler vectorises the rows.
    CbMatrix4R operator*(const CbMatrix4R& other) const {
        CbMatrix4R result(std::array<T, 16>{});
        const T* b = other.m_values.data();
        for (size_t r = 0; r < 4; ++r) {
            const T a0 = m_values[4 * r], a1 = m_values[4 * r + 1], a2 = m_values[4 * r + 2],
                    a3 = m_values[4 * r + 3];
            for (size_t c = 0; c < 4; ++c) {
                result.m_values[4 * r + c] =
                    a0 * b[c] + a1 * b[4 + c] + a2 * b[8 + c] + a3 * b[12 + c];
            }
        }
        return result;
    }
    CbMatrix4R& operator*=(const CbMatrix4R& other) { return *this = *this * other; }
    CbMatrix4R Transposed() const;

    // The same matrix without translation: the fourth value of the first three rows set to
    // 0 and the fourth row set to (0, 0, 0, 1). Turns normals with the rotation part only.
    CbMatrix4R WithoutTranslation() const;

    // p × M for the point p (row vector with w = 1), without the perspective divide.
    CbVector3f TransformPoint(const CbVector3f& p) const;
    // d × M for the direction d (w = 0): rotation and scale only.
    CbVector3f TransformVector(const CbVector3f& d) const;

    // Stream form: version number 1, then the 16 values in storage order. Reading reads the
    // version and does not check it.
    void Serialize(CbStreamWriteBinary& stream) const;
    void Serialize(CbStreamReadBinary& stream);
    // The same stream form in memory, for records that move it inside a larger block of
    // bytes: c_recordBytes bytes at `record`.
    static constexpr size_t c_recordBytes = 4 + 16 * sizeof(T);
    void StoreRecord(unsigned char* record) const;
    void LoadRecord(const unsigned char* record);

private:
    template <class U>
    static constexpr T convert(U value) {
        if constexpr (std::is_same_v<T, float> && std::is_same_v<U, double>) {
            // Halfway between the largest float and the next power of two rounds up to
            // infinity; everything below it rounds to a float (C++ leaves larger values
            // undefined, so they are mapped here).
            constexpr double c_overflow = 0x1.fffffep127 + 0x1p103;
            if (value >= c_overflow) {
                return std::numeric_limits<float>::infinity();
            }
            if (value <= -c_overflow) {
                return -std::numeric_limits<float>::infinity();
            }
        }
        return static_cast<T>(value);
    }

    std::array<T, 16> m_values;
};

extern template class CbMatrix4R<double>;
extern template class CbMatrix4R<float>;
