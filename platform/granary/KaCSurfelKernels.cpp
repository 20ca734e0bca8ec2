#include "platform/granary/KaCSurfelKernels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/granary/KaTQuantizedNormalMultiLevel.h"

// The compiler vectorises these loops on its own: the arrays are declared unaliased, and the
// quantised-normal code is written with selects instead of branches (granary is built with
// -fno-trapping-math, which lets the compiler evaluate both sides of a select). The box
// loop carries an "omp simd" reduction directive (enabled by -fopenmp-simd, without OpenMP
// itself): min and max are exact in any order. Other loops go without the directive, which
// would keep the normals' temporary vectors in memory and stop vectorisation.

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

void KaCSurfelKernels::CellFloorsBaseline(double* __restrict q, size_t count, double tooFar) {
    // Through a 32-bit conversion, which the compiler vectorises without SSE4.1.
    for (size_t i = 0; i < count; ++i) {
        const bool fits = q[i] > -2147483648.0 && q[i] < 2147483647.0;
        const bool finite = q[i] - q[i] == 0.0;
        const double bounded = fits ? q[i] : 0.0;
        const double whole = static_cast<double>(static_cast<int32_t>(bounded));
        const double below = whole - (whole > bounded ? 1.0 : 0.0);
        q[i] = fits ? below : (finite ? tooFar : std::numeric_limits<double>::quiet_NaN());
    }
}

#ifdef KA_VECTOR_VERSIONS
namespace {
// With AVX2 the compiler leaves the form above scalar (control flow in the loop) but
// vectorises a floor, a rounding instruction there. Adding +0 turns the -0 that floor
// gives for (-1, -0] into the +0 of the form above.
__attribute__((target("avx2"))) void cellFloorsAvx2(double* __restrict q, size_t count,
                                                    double tooFar) {
    for (size_t i = 0; i < count; ++i) {
        const double v = q[i];
        const bool fits = (v > -2147483648.0) & (v < 2147483647.0);
        const bool finite = v - v == 0.0;
        const double below = std::floor(fits ? v : 0.0) + 0.0;
        const double outside = finite ? tooFar : std::numeric_limits<double>::quiet_NaN();
        q[i] = fits ? below : outside;
    }
}

bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2") != 0;
    return has;
}
}  // namespace
#endif

bool KaCSurfelKernels::CellFloorsAvx2(double* q, size_t count, double tooFar) {
#ifdef KA_VECTOR_VERSIONS
    if (hasAvx2()) {
        cellFloorsAvx2(q, count, tooFar);
        return true;
    }
#else
    (void)q;
    (void)count;
    (void)tooFar;
#endif
    return false;
}

void KaCSurfelKernels::CellFloors(double* q, size_t count, double tooFar) {
    if (!CellFloorsAvx2(q, count, tooFar)) {
        CellFloorsBaseline(q, count, tooFar);
    }
}
