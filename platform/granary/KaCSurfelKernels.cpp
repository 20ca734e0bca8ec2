#include "platform/granary/KaCSurfelKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#ifdef KA_VECTOR_VERSIONS
#include <immintrin.h>
#endif

#include "platform/granary/KaTQuantizedNormalMultiLevel.h"

// The compiler vectorises these loops on its own: the arrays are declared unaliased, and the
// quantised-normal code is written with selects instead of branches (granary is built with
// -fno-trapping-math, which lets the compiler evaluate both sides of a select). The box
// loop carries an "omp simd" reduction directive (enabled by -fopenmp-simd, without OpenMP
// itself): min and max are exact in any order. Other loops go without the directive, which
// would keep the normals' temporary vectors in memory and stop vectorisation. The cell keys
// are the exception: GCC vectorises no form of that loop (it mixes floats, doubles and 64-bit
// integers), so it has an AVX2 form written with intrinsics beside a plain one.

KA_VECTOR_LOOP void KaCSurfelKernels::TransformPositions(const CbVector3f* source,
                                                         CbVector3f* target, size_t count,
                                                         const CbMatrix4Rf& m) {
    const float m00 = m(0, 0), m01 = m(0, 1), m02 = m(0, 2);
    const float m10 = m(1, 0), m11 = m(1, 1), m12 = m(1, 2);
    const float m20 = m(2, 0), m21 = m(2, 1), m22 = m(2, 2);
    const float m30 = m(3, 0), m31 = m(3, 1), m32 = m(3, 2);
    const float* __restrict in = reinterpret_cast<const float*>(source);
    float* __restrict out = reinterpret_cast<float*>(target);
    for (size_t i = 0; i < count; ++i) {
        const float px = in[3 * i];
        const float py = in[3 * i + 1];
        const float pz = in[3 * i + 2];
        out[3 * i] = px * m00 + py * m10 + pz * m20 + m30;
        out[3 * i + 1] = px * m01 + py * m11 + pz * m21 + m31;
        out[3 * i + 2] = px * m02 + py * m12 + pz * m22 + m32;
    }
}

KA_VECTOR_LOOP void KaCSurfelKernels::TransformPositions(const CbVector3f* source, size_t count,
                                                         const CbMatrix4Rf& m, float* __restrict x,
                                                         float* __restrict y, float* __restrict z) {
    const float m00 = m(0, 0), m01 = m(0, 1), m02 = m(0, 2);
    const float m10 = m(1, 0), m11 = m(1, 1), m12 = m(1, 2);
    const float m20 = m(2, 0), m21 = m(2, 1), m22 = m(2, 2);
    const float m30 = m(3, 0), m31 = m(3, 1), m32 = m(3, 2);
    const float* __restrict in = reinterpret_cast<const float*>(source);
    for (size_t i = 0; i < count; ++i) {
        const float px = in[3 * i];
        const float py = in[3 * i + 1];
        const float pz = in[3 * i + 2];
        x[i] = px * m00 + py * m10 + pz * m20 + m30;
        y[i] = px * m01 + py * m11 + pz * m21 + m31;
        z[i] = px * m02 + py * m12 + pz * m22 + m32;
    }
}

KA_VECTOR_LOOP void KaCSurfelKernels::SplitPositions(const CbVector3f* source, size_t count,
                                                     float* __restrict x, float* __restrict y,
                                                     float* __restrict z) {
    const float* __restrict in = reinterpret_cast<const float*>(source);
    for (size_t i = 0; i < count; ++i) {
        x[i] = in[3 * i];
        y[i] = in[3 * i + 1];
        z[i] = in[3 * i + 2];
    }
}

KA_VECTOR_LOOP CyBoundingBox3D KaCSurfelKernels::BoundsOf(const CbVector3f* positions,
                                                          size_t count) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    const float* __restrict in = reinterpret_cast<const float*>(positions);
    float minX = inf, minY = inf, minZ = inf;
    float maxX = -inf, maxY = -inf, maxZ = -inf;
    int nonFinite = 0;
#pragma omp simd reduction(min                                               \
                           : minX, minY, minZ) reduction(max                 \
                                                         : maxX, maxY, maxZ) \
    reduction(|                                                              \
              : nonFinite)
    for (size_t i = 0; i < count; ++i) {
        const float px = in[3 * i];
        const float py = in[3 * i + 1];
        const float pz = in[3 * i + 2];
        // x - x is 0 for a finite x and NaN for infinities and NaN.
        nonFinite |= (px - px == 0.0f && py - py == 0.0f && pz - pz == 0.0f) ? 0 : 1;
        minX = std::min(minX, px);
        minY = std::min(minY, py);
        minZ = std::min(minZ, pz);
        maxX = std::max(maxX, px);
        maxY = std::max(maxY, py);
        maxZ = std::max(maxZ, pz);
    }
    CyBoundingBox3D box;
    if (nonFinite != 0) {
        // Rare: points with a non-finite coordinate are left out one by one.
        for (size_t i = 0; i < count; ++i) {
            box.Extend(positions[i]);
        }
        return box;
    }
    if (count != 0) {
        box.Extend(CbVector3f(minX, minY, minZ));
        box.Extend(CbVector3f(maxX, maxY, maxZ));
    }
    return box;
}

KA_VECTOR_LOOP void KaCSurfelKernels::TurnNormalCodes(const uint16_t* __restrict source,
                                                      uint16_t* __restrict target, size_t count,
                                                      const CbMatrix4Rf& r) {
    const float r00 = r(0, 0), r01 = r(0, 1), r02 = r(0, 2);
    const float r10 = r(1, 0), r11 = r(1, 1), r12 = r(1, 2);
    const float r20 = r(2, 0), r21 = r(2, 1), r22 = r(2, 2);
    for (size_t i = 0; i < count; ++i) {
        const CbVector3f n = KaCQuantizedNormal::Decode(source[i]);
        const CbVector3f turned{n.x * r00 + n.y * r10 + n.z * r20,
                                n.x * r01 + n.y * r11 + n.z * r21,
                                n.x * r02 + n.y * r12 + n.z * r22};
        target[i] = KaCQuantizedNormal::Encode(turned);
    }
}

KA_VECTOR_LOOP void KaCSurfelKernels::DecodeNormals(const uint16_t* __restrict codes, size_t count,
                                                    const CbMatrix4Rf* rotation,
                                                    float* __restrict x, float* __restrict y,
                                                    float* __restrict z) {
    if (rotation == nullptr) {
        for (size_t i = 0; i < count; ++i) {
            const CbVector3f n = KaCQuantizedNormal::Decode(codes[i]);
            x[i] = n.x;
            y[i] = n.y;
            z[i] = n.z;
        }
        return;
    }
    const CbMatrix4Rf& r = *rotation;
    const float r00 = r(0, 0), r01 = r(0, 1), r02 = r(0, 2);
    const float r10 = r(1, 0), r11 = r(1, 1), r12 = r(1, 2);
    const float r20 = r(2, 0), r21 = r(2, 1), r22 = r(2, 2);
    for (size_t i = 0; i < count; ++i) {
        const CbVector3f n = KaCQuantizedNormal::Decode(codes[i]);
        const float tx = n.x * r00 + n.y * r10 + n.z * r20;
        const float ty = n.x * r01 + n.y * r11 + n.z * r21;
        const float tz = n.x * r02 + n.y * r12 + n.z * r22;
        // As CbVector3f::Normalized.
        const float length = std::sqrt(tx * tx + ty * ty + tz * tz);
        const bool positive = length > 0.0f;
        const float inverse = 1.0f / (positive ? length : 1.0f);
        x[i] = positive ? tx * inverse : 0.0f;
        y[i] = positive ? ty * inverse : 0.0f;
        z[i] = positive ? tz * inverse : 0.0f;
    }
}

KA_VECTOR_LOOP void KaCSurfelKernels::EncodeNormals(const float* __restrict x,
                                                    const float* __restrict y,
                                                    const float* __restrict z, size_t count,
                                                    uint16_t* __restrict codes) {
    for (size_t i = 0; i < count; ++i) {
        codes[i] = KaCQuantizedNormal::Encode(CbVector3f(x[i], y[i], z[i]));
    }
}

namespace {

// Both forms of PackedCellKeys work per axis through the offset of the floor from the
// shifted origin, exact as a double (integers far below 2^53).
struct AxisOrigins {
    double x;
    double y;
    double z;
};

AxisOrigins shiftedOrigins(const int64_t origin[3]) {
    const auto half = static_cast<double>(KaCSurfelKernels::ms_packedHalf);
    return {static_cast<double>(origin[0]) - half, static_cast<double>(origin[1]) - half,
            static_cast<double>(origin[2]) - half};
}

// The packed offset of one coordinate; `inside` false where it has none, `finite` false
// where the coordinate is not finite.
uint64_t axisOffset(float p, double cellSize, double shiftedOrigin, bool& inside, bool& finite) {
    const double q = static_cast<double>(p) / cellSize;
    const bool fits = q > -2147483648.0 && q < 2147483647.0;
    const double below = fits ? std::floor(q) : 0.0;
    const double offset = below - shiftedOrigin;
    inside =
        fits && offset >= 0.0 && offset <= static_cast<double>(KaCSurfelKernels::ms_packedMask);
    finite = q - q == 0.0;
    return inside ? static_cast<uint64_t>(offset) : 0;
}

}  // namespace

void KaCSurfelKernels::PackedCellKeysBaseline(const float* px, const float* py, const float* pz,
                                              size_t count, double cellSize,
                                              const int64_t origin[3], uint64_t* keys,
                                              uint64_t* states) {
    const AxisOrigins o = shiftedOrigins(origin);
    for (size_t i = 0; i < count; ++i) {
        bool ix = false, iy = false, iz = false, fx = false, fy = false, fz = false;
        const uint64_t kx = axisOffset(px[i], cellSize, o.x, ix, fx);
        const uint64_t ky = axisOffset(py[i], cellSize, o.y, iy, fy);
        const uint64_t kz = axisOffset(pz[i], cellSize, o.z, iz, fz);
        keys[i] = (kx << (2 * ms_packedBits)) | (ky << ms_packedBits) | kz;
        states[i] = (fx && fy && fz) ? ((ix && iy && iz) ? 1 : 2) : 0;
    }
}

#ifdef KA_VECTOR_VERSIONS
namespace {

// Four coordinates of one axis: their packed offsets as 64-bit lanes, and masks of those
// inside the packed range and of those finite.
struct AxisLanes {
    __m256i offsets;
    __m256d inside;
    __m256d finite;
};

__attribute__((target("avx2"))) AxisLanes axisLanes(const float* p, __m256d cellSize,
                                                    double shiftedOrigin) {
    const __m256d q = _mm256_div_pd(_mm256_cvtps_pd(_mm_loadu_ps(p)), cellSize);
    const __m256d fits = _mm256_and_pd(_mm256_cmp_pd(q, _mm256_set1_pd(-2147483648.0), _CMP_GT_OQ),
                                       _mm256_cmp_pd(q, _mm256_set1_pd(2147483647.0), _CMP_LT_OQ));
    const __m256d offset = _mm256_sub_pd(_mm256_floor_pd(q), _mm256_set1_pd(shiftedOrigin));
    const __m256d inRange = _mm256_and_pd(
        _mm256_cmp_pd(offset, _mm256_setzero_pd(), _CMP_GE_OQ),
        _mm256_cmp_pd(offset, _mm256_set1_pd(static_cast<double>(KaCSurfelKernels::ms_packedMask)),
                      _CMP_LE_OQ));
    const __m256d inside = _mm256_and_pd(fits, inRange);
    // Offsets below 2^21 convert exactly through 32 bits; lanes outside convert 0.
    const __m128i whole = _mm256_cvttpd_epi32(_mm256_and_pd(inside, offset));
    return {_mm256_cvtepu32_epi64(whole), inside,
            _mm256_cmp_pd(_mm256_sub_pd(q, q), _mm256_setzero_pd(), _CMP_EQ_OQ)};
}

__attribute__((target("avx2"))) void packedCellKeysAvx2(const float* px, const float* py,
                                                        const float* pz, size_t count,
                                                        double cellSize, const int64_t origin[3],
                                                        uint64_t* keys, uint64_t* states) {
    const AxisOrigins o = shiftedOrigins(origin);
    const __m256d size = _mm256_set1_pd(cellSize);
    const __m256i one = _mm256_set1_epi64x(1);
    const __m256i two = _mm256_set1_epi64x(2);
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const AxisLanes x = axisLanes(px + i, size, o.x);
        const AxisLanes y = axisLanes(py + i, size, o.y);
        const AxisLanes z = axisLanes(pz + i, size, o.z);
        const __m256i key = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi64(x.offsets, 2 * KaCSurfelKernels::ms_packedBits),
                            _mm256_slli_epi64(y.offsets, KaCSurfelKernels::ms_packedBits)),
            z.offsets);
        const __m256i inside =
            _mm256_castpd_si256(_mm256_and_pd(_mm256_and_pd(x.inside, y.inside), z.inside));
        const __m256i finite =
            _mm256_castpd_si256(_mm256_and_pd(_mm256_and_pd(x.finite, y.finite), z.finite));
        // 1 inside, else 2; 0 where not finite.
        const __m256i state = _mm256_and_si256(finite, _mm256_blendv_epi8(two, one, inside));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys + i), key);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(states + i), state);
    }
    KaCSurfelKernels::PackedCellKeysBaseline(px + i, py + i, pz + i, count - i, cellSize, origin,
                                             keys + i, states + i);
}

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}

}  // namespace
#endif

bool KaCSurfelKernels::PackedCellKeysAvx2(const float* px, const float* py, const float* pz,
                                          size_t count, double cellSize, const int64_t origin[3],
                                          uint64_t* keys, uint64_t* states) {
#ifdef KA_VECTOR_VERSIONS
    if (hasAvx2()) {
        packedCellKeysAvx2(px, py, pz, count, cellSize, origin, keys, states);
        return true;
    }
#else
    (void)px;
    (void)py;
    (void)pz;
    (void)count;
    (void)cellSize;
    (void)origin;
    (void)keys;
    (void)states;
#endif
    return false;
}

void KaCSurfelKernels::PackedCellKeys(const float* px, const float* py, const float* pz,
                                      size_t count, double cellSize, const int64_t origin[3],
                                      uint64_t* keys, uint64_t* states) {
    if (!PackedCellKeysAvx2(px, py, pz, count, cellSize, origin, keys, states)) {
        PackedCellKeysBaseline(px, py, pz, count, cellSize, origin, keys, states);
    }
}
