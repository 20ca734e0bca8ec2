#pragma once

#include <array>
#include <cstdint>

#include "platform/abacus/CbVector3f.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A histogram of normal directions over a 16 x 16 grid of the octahedral map (the map of
// the quantised normals: the direction is projected onto |x| + |y| + |z| = 1 and the lower
// half folded over the upper one), so that every bin covers a similar solid angle. A bin's
// direction is the unit vector of its centre in that map. Counts saturate at 2^32 - 1.
// A plain value, not synchronised. Bad stream input throws CbException, an unknown record
// version CbExceptionWrongFileVersion.
class KaCQuantizedNormalBinning {
public:
    static constexpr uint32_t ms_nrBinsPerAxis = 16;
    static constexpr uint32_t ms_nrBins = ms_nrBinsPerAxis * ms_nrBinsPerAxis;

    KaCQuantizedNormalBinning() = default;
    KaCQuantizedNormalBinning(const KaCQuantizedNormalBinning& other) = default;
    KaCQuantizedNormalBinning& operator=(const KaCQuantizedNormalBinning& other) = default;
    ~KaCQuantizedNormalBinning() = default;

    void Clear() { m_counts.fill(0); }
    // Counts `direction` (any length) `count` times; the zero vector and vectors with a
    // non-finite component are not counted.
    void AddNormal(const CbVector3f& direction, uint32_t count = 1);
    // The sum of all bin counts.
    uint64_t GetTotalCount() const;

    // The bin a direction falls into (ms_nrBins for one that is not counted), its count
    // and its direction.
    static uint32_t GetBinIndex(const CbVector3f& direction);
    uint32_t GetBinCount(uint32_t bin) const { return bin < ms_nrBins ? m_counts[bin] : 0; }
    static CbVector3f GetBinDirection(uint32_t bin);

    // The normalised sum of count × bin direction over the bins whose count is at least
    // `threshold`; the zero vector when no bin qualifies or the sum is zero.
    CbVector3f ComputeMeanDirectionAboveThresholdCount(uint32_t threshold) const;

    // Record: version 1, bin count (uint32, always 256), the counts (uint32 each). A
    // different bin count throws; the reader changes the histogram only once all is read.
    void Serialize(CbStreamWriteBinary& stream) const;
    void Serialize(CbStreamReadBinary& stream);

    bool operator==(const KaCQuantizedNormalBinning& other) const = default;

private:
    std::array<uint32_t, ms_nrBins> m_counts{};
};
