#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaTQuantizedNormalMultiLevelTraitsFast.h"

// A unit normal quantised to a 16-bit code by octahedral encoding; at Level 7, two bytes
// and a worst-case angular error of GetMaxAngularErrorDegrees() = 1 degree (0.95 measured).
// Encoding normalises; the zero vector and non-finite vectors encode to +z, the default.
// A plain value; thread-safe as values are; nothing throws.
template <class Vector, int Level, class Traits = KaTQuantizedNormalMultiLevelTraitsFast>
class KaTQuantizedNormalMultiLevel {
    // The direction is projected onto the octahedron |x| + |y| + |z| = 1, the lower half is
    // folded over the upper one, and the two remaining coordinates (u, v) in [-1, 1] are
    // each stored as a signed integer in [-(2^Level - 1), 2^Level - 1], offset by 2^Level,
    // in Level + 1 bits (u above v). Axis directions and the octahedron's equator are stored
    // exactly. Every code, including those the encoder never produces, decodes to a unit
    // vector.
    static_assert(Level >= 1 && Level <= 7, "levels 1 to 7 fit a 16-bit code");

public:
    using CodeType = uint16_t;

    static constexpr int ms_iLevel = Level;
    static constexpr int ms_iScale = (1 << Level) - 1;
    static constexpr int ms_iOffset = 1 << Level;
    static constexpr int ms_iBitsPerAxis = Level + 1;
    static constexpr CodeType ms_codeMask = static_cast<CodeType>((1u << ms_iBitsPerAxis) - 1u);
    // The code of +z (u = v = 0).
    static constexpr CodeType ms_codePositiveZ =
        static_cast<CodeType>((ms_iOffset << ms_iBitsPerAxis) | ms_iOffset);
    // Worst-case angle between a unit vector and the decoded normal of its code, in
    // degrees. Stated for the 16-bit level, where it has been measured; about 0.95.
    static constexpr double GetMaxAngularErrorDegrees() requires(Level == 7) { return 1.0; }

    constexpr KaTQuantizedNormalMultiLevel() = default;
    explicit KaTQuantizedNormalMultiLevel(const Vector& direction) { Set(direction); }

    static constexpr KaTQuantizedNormalMultiLevel FromCode(CodeType code) {
        KaTQuantizedNormalMultiLevel normal;
        normal.m_code = code;
        return normal;
    }

    // Encodes `direction` (any length; see the class comment for zero and non-finite).
    void Set(const Vector& direction) { m_code = Encode(direction); }
    // The unit vector of the code.
    Vector Get() const { return Decode(m_code); }

    constexpr CodeType GetCode() const { return m_code; }
    constexpr void SetCode(CodeType code) { m_code = code; }

    constexpr bool operator==(const KaTQuantizedNormalMultiLevel& other) const = default;

    // Written without branches (selects only), so that loops over many normals vectorise.
    static CodeType Encode(const Vector& direction) {
        const float dx = Traits::Component(direction, 0);
        const float dy = Traits::Component(direction, 1);
        const float dz = Traits::Component(direction, 2);
        // Scaling by the largest magnitude first keeps the L1 norm finite and away from
        // denormals for every finite input.
        const float largest = std::max(std::fabs(dx), std::max(std::fabs(dy), std::fabs(dz)));
        const bool usable = largest > 0.0f && largest <= std::numeric_limits<float>::max();
        const float scale = usable ? largest : 1.0f;
        const float x = dx / scale;
        const float y = dy / scale;
        const float z = dz / scale;
        const float l1 = std::fabs(x) + std::fabs(y) + std::fabs(z);
        const float u = x / l1;
        const float v = y / l1;
        const bool lower = z < 0.0f;
        const float foldedU = lower ? (1.0f - std::fabs(v)) * signOf(u) : u;
        const float foldedV = lower ? (1.0f - std::fabs(u)) * signOf(v) : v;
        const int qu = std::clamp(Traits::RoundToGrid(foldedU * ms_iScale), -ms_iScale, ms_iScale);
        const int qv = std::clamp(Traits::RoundToGrid(foldedV * ms_iScale), -ms_iScale, ms_iScale);
        const auto code =
            static_cast<CodeType>(((qu + ms_iOffset) << ms_iBitsPerAxis) | (qv + ms_iOffset));
        return usable ? code : ms_codePositiveZ;
    }

    static Vector Decode(CodeType code) {
        // Bits above the two coordinates are ignored; the one value below -scale that the
        // bit width allows reads as -scale.
        const int qu = std::max(
            static_cast<int>((code >> ms_iBitsPerAxis) & ms_codeMask) - ms_iOffset, -ms_iScale);
        const int qv = std::max(static_cast<int>(code & ms_codeMask) - ms_iOffset, -ms_iScale);
        const float u = static_cast<float>(qu) / ms_iScale;
        const float v = static_cast<float>(qv) / ms_iScale;
        const float z = 1.0f - std::fabs(u) - std::fabs(v);
        const bool lower = z < 0.0f;
        const float x = lower ? (1.0f - std::fabs(v)) * signOf(u) : u;
        const float y = lower ? (1.0f - std::fabs(u)) * signOf(v) : v;
        // |x| + |y| + |z| = 1 here, so the length is at least 1/sqrt(3).
        const float inverseLength = 1.0f / std::sqrt(x * x + y * y + z * z);
        return Traits::template MakeVector<Vector>(x * inverseLength, y * inverseLength,
                                                   z * inverseLength);
    }

private:
    static constexpr float signOf(float value) { return value < 0.0f ? -1.0f : 1.0f; }

    CodeType m_code = ms_codePositiveZ;
};

// The two-byte normal that surfel containers store.
using KaCQuantizedNormal =
    KaTQuantizedNormalMultiLevel<CbVector3f, 7, KaTQuantizedNormalMultiLevelTraitsFast>;

static_assert(sizeof(KaCQuantizedNormal) == 2, "a quantised normal is two bytes");
static_assert(std::is_trivially_copyable_v<KaCQuantizedNormal>,
              "quantised normals are copied as bytes");
