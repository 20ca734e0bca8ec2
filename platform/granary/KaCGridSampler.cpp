#include "platform/granary/KaCGridSampler.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "platform/granary/KaCSurfelKernels.h"
#include "platform/harbor/CbException.h"

namespace {

// |floor(p / cellSize)| below this is kept as an exact integer.
constexpr double c_exactLimit = 9007199254740992.0;  // 2^53
// Offset of the keys taken from bit patterns, beyond every exact integer key.
constexpr int64_t c_bitPatternOffset = int64_t{1} << 62;
// Packed keys (KaCSurfelKernels::PackedCellKeys): 21 bits per axis, offsets from the first
// cell in [-2^20, 2^20).
constexpr int c_packedBits = KaCSurfelKernels::ms_packedBits;
constexpr int64_t c_packedHalf = KaCSurfelKernels::ms_packedHalf;
constexpr uint64_t c_packedMask = KaCSurfelKernels::ms_packedMask;
// Weights of parameters up to this magnitude stay below 2^800 for any finite quality, so
// that raw weighted sums of float values cannot overflow (2^800 · 2^128 · 2^64 < 2^1024):
// those parameters are summed as surfels come in.
constexpr float c_largestSummedParameter = 6.0f;
// Look-ups and sums fetched this many surfels ahead: enough to cover a cache miss with the
// work of the surfels between.
constexpr size_t c_ahead = 8;
// Each byte value as a double, so that summing colours loads instead of converting.
constexpr auto c_byteValues = [] {
    std::array<double, 256> values{};
    for (size_t b = 0; b < values.size(); ++b) {
        values[b] = static_cast<double>(b);
    }
    return values;
}();
// Surfels per step of AddSurfels: the step's arrays (about 20 KB) stay in the L1 cache.
constexpr size_t c_chunk = KaCSurfelKernels::ms_chunk / 2;

double weightOf(float quality, float parameter) {
    if (parameter == 0.0f) {
        return 1.0;
    }
    if (!(quality > 0.0f)) {
        return 0.0;
    }
    // Exact without the library call for the common parameters (a float squared fits a
    // double exactly).
    const double q = quality;
    if (parameter == 1.0f) {
        return q;
    }
    if (parameter == 2.0f) {
        return q * q;
    }
    return std::pow(q, static_cast<double>(parameter));
}

uint8_t roundToByte(double value) {
    // To the nearest integer, ties to even, as nearbyint does in the default rounding mode,
    // without the library call: below 2^52 the sum has no fraction bits. Weighted means of
    // bytes lie in [0, 255]; the clamp only guards rounding.
    constexpr double c_noFraction = 4503599627370496.0;  // 2^52
    const double rounded = (value + c_noFraction) - c_noFraction;
    return static_cast<uint8_t>(std::clamp(rounded, 0.0, 255.0));
}

// The summed values of a surfel (see ms_nrValues).
template <class Sample>
void valuesOf(const Sample& sample, double* values) {
    for (int a = 0; a < 3; ++a) {
        values[a] = sample.position[a];
        values[3 + a] = sample.normal[a];
    }
    values[6] = sample.color.r;
    values[7] = sample.color.g;
    values[8] = sample.color.b;
    values[9] = sample.curvature;
}

// `take ? a : b` through masks. The quality rules pick values by comparisons whose outcome
// is unpredictable; written as conditional expressions, GCC turns them into branches,
// which then mispredict often.
float selectFloat(bool take, float a, float b) {
    const uint32_t mask = 0u - static_cast<uint32_t>(take);
    return std::bit_cast<float>((std::bit_cast<uint32_t>(a) & mask) |
                                (std::bit_cast<uint32_t>(b) & ~mask));
}

uint8_t selectByte(bool take, uint8_t a, uint8_t b) {
    const auto mask = static_cast<uint8_t>(0u - static_cast<unsigned>(take));
    return static_cast<uint8_t>((a & mask) | (b & ~mask));
}

// The quality rules of a cell, for a later surfel (or group of surfels) whose highest
// quality is `quality` (NaN ignored unless all are NaN), with the tissue type of the first
// surfel of that quality: the same as adding the later surfels one by one. The tissue type
// follows the first surfel of the highest quality that is not NaN. Selects rather than
// branches, because which surfel has the highest quality is unpredictable.
template <class Cell>
void joinQuality(Cell& cell, float quality, uint8_t tissueType, uint8_t boundary) {
    const bool higher = (quality > cell.quality) | (cell.quality != cell.quality);
    const bool better = (quality == quality) & higher;
    cell.quality = selectFloat(higher, quality, cell.quality);
    cell.tissueType = selectByte(better, tissueType, cell.tissueType);
    cell.boundary |= boundary;
}

[[noreturn, gnu::noinline, gnu::cold]] void refuseCount() {
    CB_THROW(CbException, "KaCGridSampler: more than 2^32 - 1 surfels in one cell");
}

// Adds `surfels` to the count of a cell, refusing a count beyond 32 bits.
template <class Cell>
void addToCount(Cell& cell, size_t surfels) {
    if (surfels > UINT32_MAX - cell.count) [[unlikely]] {
        refuseCount();
    }
    cell.count += static_cast<uint32_t>(surfels);
}

// Adds a surfel to the plain sums of its cell (or starts them with it).
template <class Cell, class Sample>
void addPlain(Cell& cell, bool isNew, const Sample& sample) {
    double values[10];
    valuesOf(sample, values);
    if (isNew) {
        std::copy_n(values, 10, cell.plain);
        cell.count = 1;
        cell.quality = sample.quality;
        std::copy_n(sample.normal, 3, cell.firstNormal);
        cell.tissueType = sample.tissueType;
        cell.boundary = sample.boundary;
        return;
    }
    for (int k = 0; k < 10; ++k) {
        cell.plain[k] += values[k];
    }
    addToCount(cell, 1);
    joinQuality(cell, sample.quality, sample.tissueType, sample.boundary);
}

// Adds a surfel of raw weight w to the raw weighted sums of its cell (or starts them with
// it); only for weights that cannot make a sum overflow (see c_largestSummedParameter).
template <class Cell, class Sample>
void addWeightedRaw(Cell& cell, bool isNew, double w, const Sample& sample) {
    double values[10];
    valuesOf(sample, values);
    for (int k = 0; k < 10; ++k) {
        cell.weighted[k] = (isNew ? 0.0 : cell.weighted[k]) + w * values[k];
    }
    cell.total = (isNew ? 0.0 : cell.total) + w;
}

// Adds a surfel of raw weight w to the weighted sums of its cell (or starts them with it),
// kept relative to the largest weight so far, so that no weight can make a sum overflow.
template <class Cell, class Scale, class Sample>
void addWeightedScaled(Cell& cell, Scale& scale, bool isNew, double w, const Sample& sample) {
    double values[10];
    valuesOf(sample, values);
    if (isNew) {
        const double share = w > 0.0 ? 1.0 : 0.0;
        for (int k = 0; k < 10; ++k) {
            cell.weighted[k] = share * values[k];
        }
        scale.weight = share;
        scale.largest = w > 0.0 ? w : 0.0;
        cell.total = w;
        return;
    }
    cell.total += w;
    double share = 0.0;
    if (w > scale.largest) {
        // A new largest weight: the sums so far are rescaled to it, and this surfel
        // weighs 1 (also when w is infinite; the cell then falls back to plain means).
        if (scale.largest > 0.0) {
            const double rescale = scale.largest / w;
            for (int k = 0; k < 10; ++k) {
                cell.weighted[k] *= rescale;
            }
            scale.weight *= rescale;
        }
        scale.largest = w;
        share = 1.0;
    } else if (w > 0.0) {
        share = w / scale.largest;
    } else {
        return;  // weight 0 (or NaN): adds nothing
    }
    for (int k = 0; k < 10; ++k) {
        cell.weighted[k] += share * values[k];
    }
    scale.weight += share;
}

// Two doubles in one SSE register (a compiler vector type, portable across GCC and Clang):
// the hot loop adds a surfel's ten values as five pairs.
using Pair = double __attribute__((vector_size(16)));

Pair loadPair(const double* from) {
    Pair pair;
    std::memcpy(&pair, from, sizeof(pair));
    return pair;
}

void storePair(double* to, Pair pair) {
    std::memcpy(to, &pair, sizeof(pair));
}

// The weights of `n` qualities (weightOf), the common parameters without a call.
KA_VECTOR_LOOP void weightsOf(const float* qualities, size_t n, float parameter,
                              double* __restrict weights) {
    if (qualities == nullptr) {
        std::fill_n(weights, n, 1.0);  // quality 1: weight 1 for every parameter
        return;
    }
    if (parameter == 1.0f) {
        for (size_t i = 0; i < n; ++i) {
            const double q = qualities[i];
            weights[i] = q > 0.0 ? q : 0.0;
        }
    } else if (parameter == 2.0f) {
        for (size_t i = 0; i < n; ++i) {
            const double q = qualities[i];
            weights[i] = q > 0.0 ? q * q : 0.0;
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            weights[i] = weightOf(qualities[i], parameter);
        }
    }
}

}  // namespace

struct KaCGridSampler::Chunk {
    alignas(64) float px[c_chunk];
    alignas(64) float py[c_chunk];
    alignas(64) float pz[c_chunk];
    alignas(64) float nx[c_chunk];
    alignas(64) float ny[c_chunk];
    alignas(64) float nz[c_chunk];
    // The packed key of each surfel, and its state: 0 skip (not finite), 1 packed key,
    // 2 needs the wide keys (KaCSurfelKernels::PackedCellKeys).
    alignas(64) uint64_t keys[c_chunk];
    alignas(64) uint64_t states[c_chunk];
    alignas(64) double weights[c_chunk];  // summing with a parameter other than 0
    alignas(64) uint8_t inside[c_chunk];  // with spheres: inside at least one
    bool withSpheres;
    // The container's other attributes, from surfel `start` on; null when it lacks them.
    const float* qualities;
    const KaCCompressedColor* colors;
    const uint8_t* curvatures;
    const uint8_t* tissueTypes;
    const uint8_t* boundaryFlags;
    size_t start;

    float quality(size_t i) const { return qualities != nullptr ? qualities[start + i] : 1.0f; }
    KaCCompressedColor color(size_t i) const {
        return colors != nullptr ? colors[start + i] : KaCCompressedColor();
    }
    uint8_t curvature(size_t i) const {
        return curvatures != nullptr ? curvatures[start + i] : uint8_t{0};
    }
    Sample sample(size_t i) const {
        Sample s;
        s.position[0] = px[i];
        s.position[1] = py[i];
        s.position[2] = pz[i];
        s.normal[0] = nx[i];
        s.normal[1] = ny[i];
        s.normal[2] = nz[i];
        s.quality = quality(i);
        s.color = color(i);
        s.curvature = curvature(i);
        s.tissueType = tissueTypes[start + i];
        s.boundary = boundaryFlags[start + i];
        return s;
    }
    bool finite(size_t i) const {
        return std::isfinite(px[i]) && std::isfinite(py[i]) && std::isfinite(pz[i]);
    }
    bool taken(size_t i) const { return !withSpheres || inside[i] != 0; }
};

KaCGridSampler::KaCGridSampler(float cellSize) : KaCGridSampler(cellSize, 0.0f) {
    m_parameterGiven = false;
    m_summing = false;
}

KaCGridSampler::KaCGridSampler(float cellSize, float parameter)
    : m_cellSize(cellSize)
    , m_cellSizeDouble(cellSize)
    , m_parameterGiven(true)
    , m_summing(std::isfinite(parameter) && std::fabs(parameter) <= c_largestSummedParameter)
    , m_parameter(parameter) {
    if (!std::isfinite(cellSize) || !(cellSize > 0.0f)) {
        CB_THROW(CbException, "KaCGridSampler: the cell size must be finite and positive, not " +
                                  std::to_string(cellSize));
    }
}

bool KaCGridSampler::WideKey::operator<(const WideKey& other) const {
    return std::tie(x, y, z) < std::tie(other.x, other.y, other.z);
}

uint64_t KaCGridSampler::WideHash::operator()(const WideKey& key) const {
    uint64_t h = static_cast<uint64_t>(key.x) * 0x9E3779B97F4A7C15ull;
    h = (h ^ (h >> 29) ^ static_cast<uint64_t>(key.y)) * 0xBF58476D1CE4E5B9ull;
    h = (h ^ (h >> 32) ^ static_cast<uint64_t>(key.z)) * 0x94D049BB133111EBull;
    return h ^ (h >> 31);
}

void KaCGridSampler::Sums::Resize(size_t count, bool scaled) {
    cells.Resize(count);
    if (scaled) {
        scale.Resize(count);
    }
}

int64_t KaCGridSampler::axisKey(float coordinate) const {
    const double cell = std::floor(static_cast<double>(coordinate) / m_cellSizeDouble);
    if (std::fabs(cell) < c_exactLimit) {
        return static_cast<int64_t>(cell);
    }
    // Far out: the float itself names the cell (see the class comment). The magnitude's
    // bit pattern grows with the magnitude, so the keys keep the coordinates' order.
    uint32_t bits = 0;
    std::memcpy(&bits, &coordinate, sizeof(bits));
    const int64_t magnitude = c_bitPatternOffset + static_cast<int64_t>(bits & 0x7FFFFFFFu);
    return coordinate > 0.0f ? magnitude : -magnitude;
}

KaCGridSampler::WideKey KaCGridSampler::wideKeyOf(float x, float y, float z) const {
    return {axisKey(x), axisKey(y), axisKey(z)};
}

void KaCGridSampler::checkCellCount() const {
    if (m_cellCount >= UINT32_MAX - 1) {
        CB_THROW(CbException, "KaCGridSampler: more than 2^32 - 2 cells");
    }
}

uint32_t KaCGridSampler::cellOfWide(const WideKey& key, bool& isNew) {
    checkCellCount();
    const uint32_t cell = m_wideTable.FindOrInsert(key, m_cellCount);
    isNew = cell == m_cellCount;
    m_cellCount += isNew ? 1 : 0;
    return cell;
}

void KaCGridSampler::switchToWideKeys() {
    // Every packed key names origin + offset exactly, as the wide keys of cells this near
    // do (their coordinates are below 2^53).
    m_wideTable.Reserve(size_t{m_cellCount} + 1);
    m_packedTable.ForEach([this](uint64_t key, uint32_t cell) {
        const WideKey wide{
            static_cast<int64_t>(key >> (2 * c_packedBits)) - c_packedHalf + m_origin[0],
            static_cast<int64_t>((key >> c_packedBits) & c_packedMask) - c_packedHalf + m_origin[1],
            static_cast<int64_t>(key & c_packedMask) - c_packedHalf + m_origin[2]};
        m_wideTable.FindOrInsert(wide, cell);
    });
    m_packedTable.Release();
    m_packed = false;
}

void KaCGridSampler::ExpectSurfels(uint64_t surfels) {
    // Overlapping scans at the usual cell sizes make a cell of every 5 to 40 surfels. Sized
    // for one of every 4, the table does not grow at the finest of them, where growing
    // mid-pass costs about a tenth of the pass (the rehash, and longer probes near half
    // load). At coarse cells the table is then larger than needed (8 bytes per surfel
    // expected), which spreads the cells over more cache and costs a few percent. The cells
    // of a scanned surface saturate as scans overlap (a whole jaw arch at 0.1 mm makes about
    // 250,000), so the reservation stops at 2^20 cells (a table of 32 MiB); a larger surface
    // grows it.
    const uint64_t cells =
        uint64_t{m_cellCount} + std::min<uint64_t>(surfels / 4, uint64_t{1} << 20) + 16;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(cells, uint64_t{1} << 31));
    if (m_packed) {
        m_packedTable.Reserve(wanted);
    } else {
        m_wideTable.Reserve(wanted);
    }
}

void KaCGridSampler::AddSurfels(const KaCSurfelContainer& container,
                                const CbMatrix4Rf* transformation) {
    AddSurfels(container, transformation, {});
}

void KaCGridSampler::AddSurfels(const KaCSurfelContainer& container,
                                const CbMatrix4Rf* transformation,
                                const std::vector<CyBoundingSphere>& spheres) {
    const uint32_t count = container.GetNrSurfels();
    if (count == 0) {
        return;
    }
    ExpectSurfels(count);
    const auto* positions =
        static_cast<const CbVector3f*>(container.GetPositionAccessor().GetData());
    const auto* normalCodes = static_cast<const uint16_t*>(container.GetNormalAccessor().GetData());
    const CbMatrix4Rf rotation =
        transformation != nullptr ? transformation->WithoutTranslation() : CbMatrix4Rf();

    Chunk chunk;
    chunk.withSpheres = !spheres.empty();
    chunk.qualities = container.HasQualityFlag()
                          ? static_cast<const float*>(container.GetQualityAccessor().GetData())
                          : nullptr;
    chunk.colors = nullptr;
    chunk.curvatures = nullptr;
    if (container.HasColor()) {
        chunk.colors = static_cast<const KaCCompressedColor*>(
            container.GetAccessor<KaCCompressedColor>(KaCSurfelContainer::eAttributeIdColor)
                .GetData());
        chunk.curvatures = static_cast<const uint8_t*>(
            container.GetAccessor<uint8_t>(KaCSurfelContainer::eAttributeIdCurvature).GetData());
    }
    chunk.tissueTypes = static_cast<const uint8_t*>(container.GetTissueTypeAccessor().GetData());
    chunk.boundaryFlags =
        static_cast<const uint8_t*>(container.GetBoundaryFlagAccessor().GetData());

    for (uint32_t start = 0; start < count; start += c_chunk) {
        const size_t n = std::min<size_t>(c_chunk, count - start);
        chunk.start = start;
        if (transformation != nullptr) {
            KaCSurfelKernels::TransformPositions(positions + start, n, *transformation, chunk.px,
                                                 chunk.py, chunk.pz);
            KaCSurfelKernels::DecodeNormals(normalCodes + start, n, &rotation, chunk.nx, chunk.ny,
                                            chunk.nz);
        } else {
            KaCSurfelKernels::SplitPositions(positions + start, n, chunk.px, chunk.py, chunk.pz);
            KaCSurfelKernels::DecodeNormals(normalCodes + start, n, nullptr, chunk.nx, chunk.ny,
                                            chunk.nz);
        }
        const float* __restrict px = chunk.px;
        const float* __restrict py = chunk.py;
        const float* __restrict pz = chunk.pz;
        if (chunk.withSpheres) {
            uint8_t* __restrict inside = chunk.inside;
            std::fill_n(inside, n, uint8_t{0});
            for (const CyBoundingSphere& sphere : spheres) {
                // As CyBoundingSphere::Contains.
                const float r2 = sphere.radius * sphere.radius;
                for (size_t i = 0; i < n; ++i) {
                    const float dx = px[i] - sphere.center.x;
                    const float dy = py[i] - sphere.center.y;
                    const float dz = pz[i] - sphere.center.z;
                    inside[i] |= (dx * dx + dy * dy + dz * dz <= r2) ? 1 : 0;
                }
            }
        }
        if (m_summing && m_parameter != 0.0f) {
            weightsOf(chunk.qualities != nullptr ? chunk.qualities + start : nullptr, n,
                      m_parameter, chunk.weights);
        }

        if (m_packed) {
            addChunk(chunk, n);
        } else {
            addChunkWide(chunk, n);
        }
    }
}

bool KaCGridSampler::packedOrigin(float x, float y, float z) {
    // The floors of the first cell, when each lies in the 32-bit range (as PackedCellKeys
    // asks of every packed cell).
    const float coordinates[3] = {x, y, z};
    for (int axis = 0; axis < 3; ++axis) {
        const double q = static_cast<double>(coordinates[axis]) / m_cellSizeDouble;
        if (!(q > -2147483648.0 && q < 2147483647.0)) {
            return false;
        }
        m_origin[axis] = static_cast<int64_t>(std::floor(q));
    }
    return true;
}

void KaCGridSampler::addChunk(Chunk& chunk, size_t n) {
    if (m_cellCount == 0) {
        // The first surfel taken fixes the origin of the packed offsets.
        for (size_t i = 0; i < n; ++i) {
            if (chunk.taken(i) && chunk.finite(i)) {
                if (!packedOrigin(chunk.px[i], chunk.py[i], chunk.pz[i])) {
                    switchToWideKeys();
                    addChunkWide(chunk, n);
                    return;
                }
                break;
            }
        }
    }
    // Three passes over the chunk: keys, look-ups, sums.
    KaCSurfelKernels::PackedCellKeys(chunk.px, chunk.py, chunk.pz, n, m_cellSizeDouble, m_origin,
                                     chunk.keys, chunk.states);
    alignas(64) uint64_t keys[c_chunk];
    alignas(64) uint32_t cells[c_chunk];
    alignas(64) uint16_t which[c_chunk];
    alignas(64) uint8_t isNew[c_chunk];
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        if (chunk.states[i] == 0 || !chunk.taken(i)) {
            continue;
        }
        if (chunk.states[i] != 1) {
            // From here on the keys of any extent (taken from the positions themselves).
            switchToWideKeys();
            addChunkWide(chunk, n);
            return;
        }
        keys[m] = chunk.keys[i];
        which[m] = static_cast<uint16_t>(i);
        ++m;
    }

    // The slots of keys a few places on are fetched while a key is looked up, so that the
    // cache misses of shuffled surfels overlap instead of following one another.
    if (m_cellCount <= UINT32_MAX - 2 && m <= size_t{UINT32_MAX - 2 - m_cellCount}) {
        m_cellCount = m_packedTable.FindOrInsertAll(keys, m, m_cellCount, c_ahead, cells, isNew);
    } else {
        // Near the largest number of cells: key by key, refusing the cell beyond it.
        for (size_t j = 0; j < m; ++j) {
            checkCellCount();
            const uint32_t cell = m_packedTable.FindOrInsert(keys[j], m_cellCount);
            isNew[j] = cell == m_cellCount ? 1 : 0;
            m_cellCount += isNew[j];
            cells[j] = cell;
        }
    }

    if (!m_summing) {
        for (size_t j = 0; j < m; ++j) {
            take(cells[j], chunk.sample(which[j]));
        }
        return;
    }
    // The variant for the container's attributes: sums of values it does not carry are
    // left out (see sumRuns).
    const bool withWeights = m_parameter != 0.0f;
    m_sums.Resize(m_cellCount, false);
    const int variant = (withWeights ? 4 : 0) + (chunk.colors != nullptr ? 2 : 0) +
                        (chunk.qualities != nullptr ? 1 : 0);
    switch (variant) {
        case 0:
            sumRuns<false, false, false>(chunk, cells, which, isNew, m);
            break;
        case 1:
            sumRuns<false, false, true>(chunk, cells, which, isNew, m);
            break;
        case 2:
            sumRuns<false, true, false>(chunk, cells, which, isNew, m);
            break;
        case 3:
            sumRuns<false, true, true>(chunk, cells, which, isNew, m);
            break;
        case 4:
            sumRuns<true, false, false>(chunk, cells, which, isNew, m);
            break;
        case 5:
            sumRuns<true, false, true>(chunk, cells, which, isNew, m);
            break;
        case 6:
            sumRuns<true, true, false>(chunk, cells, which, isNew, m);
            break;
        default:
            sumRuns<true, true, true>(chunk, cells, which, isNew, m);
            break;
    }
    m_surfelCount += m;
}

template <bool withWeights, bool withColor, bool withQuality>
void KaCGridSampler::sumRuns(const Chunk& chunk, const uint32_t* cells, const uint16_t* which,
                             const uint8_t* isNew, size_t count) {
    // Neighbouring surfels mostly share a cell: each run of surfels in one cell is summed
    // in registers, as five pairs of values, and added to the cell's sums once.
    // The sums of the cells a few surfels on are fetched ahead, as the slots were.
    //
    // Values the container does not carry are not summed. Without colour (and so without
    // curvature) the last two pairs would add zeros: the cell's sums of them are sums of
    // bytes times weights that are not negative, never -0, so adding +0 leaves them as they
    // are, and a new cell starts them at +0 as adding would. Without quality every weight
    // is 1 (weightsOf), and 1 · v is v: the weighted sums add the values themselves.
    constexpr int pairs = withColor ? 5 : 3;
    for (size_t j = 0; j < std::min(count, c_ahead); ++j) {
        prefetchSums<withWeights>(cells[j]);
    }
    const uint8_t* const tissueTypes = chunk.tissueTypes + chunk.start;
    const uint8_t* const boundaryFlags = chunk.boundaryFlags + chunk.start;
    Pair plain[5];
    Pair weighted[5];
    double total = 0.0;
    // Adds surfel i of the chunk to the run's sums.
    const auto addSurfel = [&](size_t i) {
        Pair values[5] = {Pair{chunk.px[i], chunk.py[i]}, Pair{chunk.pz[i], chunk.nx[i]},
                          Pair{chunk.ny[i], chunk.nz[i]}};
        if (withColor) {
            // Bytes as doubles from a table: a load instead of a conversion each.
            const KaCCompressedColor color = chunk.colors[chunk.start + i];
            values[3] = Pair{c_byteValues[color.r], c_byteValues[color.g]};
            values[4] =
                Pair{c_byteValues[color.b], c_byteValues[chunk.curvatures[chunk.start + i]]};
        }
        for (int p = 0; p < pairs; ++p) {
            plain[p] += values[p];
        }
        if (withWeights && withQuality) {
            const double w = chunk.weights[i];
            const Pair ww = {w, w};
            for (int p = 0; p < pairs; ++p) {
                weighted[p] += ww * values[p];
            }
            total += w;
        } else if (withWeights) {
            for (int p = 0; p < pairs; ++p) {
                weighted[p] += values[p];
            }
            total += 1.0;
        }
    };
    for (size_t j = 0; j < count;) {
        const uint32_t cell = cells[j];
        for (int p = 0; p < 5; ++p) {
            plain[p] = Pair{0.0, 0.0};
            weighted[p] = Pair{0.0, 0.0};
        }
        total = 0.0;
        // The first surfel sets quality and tissue; each later one of the run is compared
        // without branches (see selectFloat). The run's end is found while it is summed:
        // where it ends is unpredictable in raster order, and one loop mispredicts once.
        const size_t first = which[j];
        addSurfel(first);
        float quality = withQuality ? chunk.qualities[chunk.start + first] : 1.0f;
        uint8_t tissueType = tissueTypes[first];
        uint8_t boundary = boundaryFlags[first];
        size_t end = j + 1;
        for (; end < count && cells[end] == cell; ++end) {
            const size_t i = which[end];
            addSurfel(i);
            const float q = withQuality ? chunk.qualities[chunk.start + i] : 1.0f;
            const bool higher = (q > quality) | (quality != quality);
            const bool better = (q == q) & higher;
            quality = selectFloat(higher, q, quality);
            tissueType = selectByte(better, tissueTypes[i], tissueType);
            boundary |= boundaryFlags[i];
        }
        if (end + c_ahead - 1 < count) {
            prefetchSums<withWeights>(cells[end + c_ahead - 1]);
        }

        CellSums& sums = m_sums.cells[cell];
        if (isNew[j] != 0) {
            for (int p = 0; p < 5; ++p) {
                storePair(sums.plain + 2 * p, plain[p]);
            }
            sums.count = 0;
            addToCount(sums, end - j);
            sums.quality = quality;
            sums.tissueType = tissueType;
            sums.boundary = boundary;
            sums.firstNormal[0] = chunk.nx[first];
            sums.firstNormal[1] = chunk.ny[first];
            sums.firstNormal[2] = chunk.nz[first];
        } else {
            for (int p = 0; p < pairs; ++p) {
                storePair(sums.plain + 2 * p, loadPair(sums.plain + 2 * p) + plain[p]);
            }
            addToCount(sums, end - j);
            joinQuality(sums, quality, tissueType, boundary);
        }
        if (withWeights) {
            if (isNew[j] != 0) {
                for (int p = 0; p < 5; ++p) {
                    storePair(sums.weighted + 2 * p, Pair{0.0, 0.0} + weighted[p]);
                }
                sums.total = 0.0 + total;
            } else {
                for (int p = 0; p < pairs; ++p) {
                    storePair(sums.weighted + 2 * p, loadPair(sums.weighted + 2 * p) + weighted[p]);
                }
                sums.total += total;
            }
        }
        j = end;
    }
}

template <bool withWeights>
void KaCGridSampler::prefetchSums(uint32_t cell) const {
    // Without weights only the first two lines are used.
    KaCSurfelKernels::Prefetch(&m_sums.cells[cell],
                               withWeights ? sizeof(CellSums) : offsetof(CellSums, total));
}

void KaCGridSampler::addChunkWide(const Chunk& chunk, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (!chunk.taken(i) || !chunk.finite(i)) {
            continue;
        }
        bool isNew = false;
        const uint32_t cell = cellOfWide(wideKeyOf(chunk.px[i], chunk.py[i], chunk.pz[i]), isNew);
        if (m_summing) {
            m_sums.Resize(m_cellCount, false);
            addToCell(m_sums, cell, isNew, chunk.sample(i), m_parameter, true);
            ++m_surfelCount;
        } else {
            take(cell, chunk.sample(i));
        }
    }
}

void KaCGridSampler::take(uint32_t cell, const Sample& sample) {
    // Kept until GetSubsampled, which sums them for the parameter it is given.
    const size_t at = m_samples.Size();
    m_samples.Resize(at + 1);
    m_sampleCells.Resize(at + 1);
    m_samples[at] = sample;
    m_sampleCells[at] = cell;
    ++m_surfelCount;
}

void KaCGridSampler::addToCell(Sums& sums, uint32_t cell, bool isNew, const Sample& sample,
                               float parameter, bool raw) {
    CellSums& sum = sums.cells[cell];
    addPlain(sum, isNew, sample);
    if (parameter == 0.0f) {
        return;  // every weight is 1: the plain sums are the weighted ones
    }
    const double w = weightOf(sample.quality, parameter);
    if (raw) {
        addWeightedRaw(sum, isNew, w, sample);
    } else {
        addWeightedScaled(sum, sums.scale[cell], isNew, w, sample);
    }
}

void KaCGridSampler::Clear() {
    m_packedTable.Clear();
    m_wideTable.Clear();
    m_packed = true;
    m_cellCount = 0;
    m_surfelCount = 0;
    m_sums.cells.Clear();
    m_sums.scale.Clear();
    m_samples.Clear();
    m_sampleCells.Clear();
}

std::vector<uint32_t> KaCGridSampler::cellsInKeyOrder() const {
    std::vector<uint32_t> order;
    order.reserve(m_cellCount);
    if (m_packed) {
        // Offsets from the same origin, x in the highest bits: ordered like coordinates.
        std::vector<std::pair<uint64_t, uint32_t>> keys;
        keys.reserve(m_cellCount);
        m_packedTable.ForEach([&](uint64_t key, uint32_t cell) { keys.emplace_back(key, cell); });
        std::sort(keys.begin(), keys.end());
        for (const auto& entry : keys) {
            order.push_back(entry.second);
        }
    } else {
        std::vector<std::pair<WideKey, uint32_t>> keys;
        keys.reserve(m_cellCount);
        m_wideTable.ForEach(
            [&](const WideKey& key, uint32_t cell) { keys.emplace_back(key, cell); });
        std::sort(keys.begin(), keys.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& entry : keys) {
            order.push_back(entry.second);
        }
    }
    return order;
}

uint64_t KaCGridSampler::GetSubsampled(KaCSurfelContainer& target, float parameter,
                                       KaCSurfelContainer::ESurfelAttributeSet attributeSet,
                                       bool sortByCell) const {
    if (!KaCSurfelContainer::IsValidAttributeSet(static_cast<uint32_t>(attributeSet))) {
        CB_THROW(CbException, "KaCGridSampler::GetSubsampled: unknown attribute set");
    }
    const uint32_t nrCells = m_cellCount;
    if (target.GetNrSurfels() < nrCells) {
        CB_THROW(CbException, "KaCGridSampler::GetSubsampled: the target holds " +
                                  std::to_string(target.GetNrSurfels()) + " surfels, " +
                                  std::to_string(nrCells) + " are needed");
    }
    // Bitwise, so that NaN is the same parameter as NaN.
    if (m_parameterGiven && std::memcmp(&parameter, &m_parameter, sizeof(float)) != 0 &&
        !(parameter == m_parameter)) {
        CB_THROW(CbException,
                 "KaCGridSampler::GetSubsampled: the sampler was made for the "
                 "parameter " +
                     std::to_string(m_parameter) + ", not " + std::to_string(parameter));
    }
    if (m_summing) {
        writeRepresentatives(target, m_sums, parameter, attributeSet, sortByCell, true);
        return nrCells;
    }
    // The stored surfels, summed now for this parameter, cell by cell as they came.
    Sums sums;
    sums.Resize(nrCells, parameter != 0.0f);
    uint32_t cellsSeen = 0;
    for (size_t i = 0; i < m_samples.Size(); ++i) {
        const uint32_t cell = m_sampleCells[i];
        // Cells are numbered in the order of their first surfel.
        const bool isNew = cell == cellsSeen;
        cellsSeen += isNew ? 1 : 0;
        addToCell(sums, cell, isNew, m_samples[i], parameter, false);
    }
    writeRepresentatives(target, sums, parameter, attributeSet, sortByCell, false);
    return nrCells;
}

void KaCGridSampler::writeRepresentatives(KaCSurfelContainer& target, const Sums& sums,
                                          float parameter,
                                          KaCSurfelContainer::ESurfelAttributeSet attributeSet,
                                          bool sortByCell, bool raw) const {
    const uint32_t nrCells = m_cellCount;
    if (nrCells == 0) {
        return;
    }
    const std::vector<uint32_t> order = sortByCell ? cellsInKeyOrder() : std::vector<uint32_t>();
    const bool withColor = attributeSet != KaCSurfelContainer::eSurfelAttributeSetBasic;
    const bool withQuality = attributeSet == KaCSurfelContainer::eSurfelAttributeSetFull;
    const bool weights = parameter != 0.0f;
    const KaCSurfelContainer::KaNWritableSurfels out = target.GetWritableSurfels(0, nrCells);

    alignas(64) float nx[c_chunk], ny[c_chunk], nz[c_chunk];
    for (uint32_t start = 0; start < nrCells; start += c_chunk) {
        const size_t n = std::min<size_t>(c_chunk, nrCells - start);
        for (size_t i = 0; i < n; ++i) {
            const size_t index = start + i;
            const uint32_t cell = sortByCell ? order[index] : static_cast<uint32_t>(index);
            const CellSums& plain = sums.cells[cell];
            // A cell whose total weight is 0 or not finite weighs every surfel 1.
            const bool useWeights = weights && plain.total > 0.0 && std::isfinite(plain.total);
            const double* values = useWeights ? plain.weighted : plain.plain;
            const double weight = useWeights ? (raw ? plain.total : sums.scale[cell].weight)
                                             : static_cast<double>(plain.count);

            out.positions[index] = {static_cast<float>(values[0] / weight),
                                    static_cast<float>(values[1] / weight),
                                    static_cast<float>(values[2] / weight)};
            const double length =
                std::sqrt(values[3] * values[3] + values[4] * values[4] + values[5] * values[5]);
            if (length > 0.0 && std::isfinite(length)) {
                nx[i] = static_cast<float>(values[3] / length);
                ny[i] = static_cast<float>(values[4] / length);
                nz[i] = static_cast<float>(values[5] / length);
            } else {
                nx[i] = plain.firstNormal[0];
                ny[i] = plain.firstNormal[1];
                nz[i] = plain.firstNormal[2];
            }
            if (out.colors != nullptr) {
                out.colors[index] = withColor ? KaCCompressedColor(roundToByte(values[6] / weight),
                                                                   roundToByte(values[7] / weight),
                                                                   roundToByte(values[8] / weight))
                                              : KaCCompressedColor();
                out.curvatures[index] = withColor ? roundToByte(values[9] / weight) : uint8_t{0};
            }
            if (out.qualities != nullptr) {
                out.qualities[index] = withQuality ? plain.quality : 1.0f;
            }
            out.tissueTypes[index] = plain.tissueType;
            out.boundaryFlags[index] = plain.boundary != 0 ? 1 : 0;
        }
        KaCSurfelKernels::EncodeNormals(nx, ny, nz, n, out.normalCodes + start);
    }
    target.SurfelsWritten(0, nrCells);
}
