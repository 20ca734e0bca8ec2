#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/harbor/CbPrefetch.h"
#include "platform/prism/CyBoundingBox3D.h"

// The loops that stream surfel attributes through the arithmetic: transforming positions,
// turning quantised normals, bounding boxes, the grid sampler's cell keys. Shared by the
// containers and the grid sampler so that a surfel copied one at a time and one copied in
// bulk get the same bits. Each works on flat arrays that must not overlap, and is written so
// that the compiler vectorises it (no calls, no branches in the loop bodies), or has an AVX2
// form of its own that gives the same bits.
// Stateless; thread-safe for distinct output arrays; nothing throws.
//
// KA_VECTOR_LOOP marks a function whose loops the compiler vectorises: on x86-64 it is
// built twice, for AVX2 and for the baseline, and the loader picks the one the processor
// runs best. Neither uses fused multiply-add, so both give the same bits. Not under
// ThreadSanitizer: the loader runs the chooser before the sanitizer's runtime is ready.
// GCC only: clang wants the attribute on every declaration of a multiversioned function,
// and clang builds here are the fuzzing builds, where speed does not matter.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KA_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define KA_THREAD_SANITIZER 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(KA_THREAD_SANITIZER)
#define KA_VECTOR_LOOP __attribute__((target_clones("avx2", "default")))
// Set where a loop may also be written a second time for AVX2, for loops that the
// compiler vectorises there only in another form.
#define KA_VECTOR_VERSIONS 1
#else
#define KA_VECTOR_LOOP
#endif

class KaCSurfelKernels {
public:
    // Surfels a caller processes per step to keep intermediate arrays in the first-level
    // cache.
    static constexpr size_t ms_chunk = 512;

    // target[i] = source[i] × m (row vectors, w = 1, no perspective divide).
    static void TransformPositions(const CbVector3f* source, CbVector3f* target, size_t count,
                                   const CbMatrix4Rf& m);
    // The same split into coordinate arrays.
    static void TransformPositions(const CbVector3f* source, size_t count, const CbMatrix4Rf& m,
                                   float* x, float* y, float* z);
    // Splits positions into coordinate arrays unchanged.
    static void SplitPositions(const CbVector3f* source, size_t count, float* x, float* y,
                               float* z);
    // The box of the points whose three coordinates are finite (as CyBoundingBox3D::Extend
    // point by point would give it); the empty box when there is none.
    static CyBoundingBox3D BoundsOf(const CbVector3f* positions, size_t count);

    // Each code decoded, turned by `rotation` (d × R, w = 0) and encoded again (encoding
    // normalises).
    static void TurnNormalCodes(const uint16_t* source, uint16_t* target, size_t count,
                                const CbMatrix4Rf& rotation);
    // Each code decoded into unit vectors. With a rotation, each is turned (d × R) and
    // normalised again (CbVector3f::Normalized: the zero vector stays zero).
    static void DecodeNormals(const uint16_t* codes, size_t count, const CbMatrix4Rf* rotation,
                              float* x, float* y, float* z);
    // Starts loading the cache lines of [address, address + bytes) into the cache, for a
    // use soon after; changes nothing else.
    static void Prefetch(const void* address, size_t bytes) { CbPrefetch(address, bytes); }

    // Each direction encoded (KaCQuantizedNormal::Encode).
    static void EncodeNormals(const float* x, const float* y, const float* z, size_t count,
                              uint16_t* codes);

    // Packed cell keys: a cell's offsets from a chosen origin cell, ms_packedBits per axis,
    // x in the highest bits, for cells within 2^(ms_packedBits - 1) cells of the origin.
    static constexpr int ms_packedBits = 21;
    static constexpr int64_t ms_packedHalf = int64_t{1} << (ms_packedBits - 1);
    static constexpr uint64_t ms_packedMask = (uint64_t{1} << ms_packedBits) - 1;
    // The cell of each position (px[i], py[i], pz[i]) on a grid of `cellSize`: per axis
    // floor(p / cellSize), the quotient taken in double, offset by
    // origin[axis] - ms_packedHalf. states[i] is 0 where a coordinate is not finite, 2 where
    // the cell lies outside the packed range (an offset outside [0, ms_packedMask] or a floor
    // outside (-2^31, 2^31 - 1)), 1 where keys[i] holds the packed key; keys of states 0 and
    // 2 are unspecified.
    static void PackedCellKeys(const float* px, const float* py, const float* pz, size_t count,
                               double cellSize, const int64_t origin[3], uint64_t* keys,
                               uint64_t* states);
    // The two forms PackedCellKeys picks between, which give the same bits.
    // PackedCellKeysAvx2 returns false, doing nothing, where the processor or the build
    // lacks AVX2.
    static void PackedCellKeysBaseline(const float* px, const float* py, const float* pz,
                                       size_t count, double cellSize, const int64_t origin[3],
                                       uint64_t* keys, uint64_t* states);
    static bool PackedCellKeysAvx2(const float* px, const float* py, const float* pz, size_t count,
                                   double cellSize, const int64_t origin[3], uint64_t* keys,
                                   uint64_t* states);
};
