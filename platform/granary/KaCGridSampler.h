#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCCompressedColor.h"
#include "platform/granary/KaCSurfelContainer.h"
#include "platform/granary/KaTGridCellTable.h"
#include "platform/granary/KaTSegmentedArray.h"
#include "platform/prism/CyBoundingSphere.h"

// Thins surfels out on a grid of cubic cells: AddSurfels collects surfels (transformed into
// a common frame), GetSubsampled writes one representative surfel per occupied cell. The
// cell and representative rules are described at the top of the class.
// Not synchronised: one thread at a time, GetSubsampled may run concurrently with itself.
// A cell size that is not finite and positive, a too small target, a parameter other than
// the one announced at construction, more than 2^32 - 2 cells and more than 2^32 - 1
// surfels in one cell throw CbException; allocation failure throws
// CbExceptionOutOfMemory. After an exception in AddSurfels the sampler holds part of the
// container's surfels (Clear starts again).
class KaCGridSampler {
    // Cells. A surfel at the transformed position p lies in the cell whose coordinate on
    // each axis is floor(p / cellSize), the quotient taken in double precision from the
    // float coordinate and the float cell size. That is the exact floor whenever
    // |p / cellSize| < 2^29 (the quotient of two floats is never closer to an integer than
    // double rounding could move it); beyond, a point within a relative 2^-53 of a cell face
    // may land in the neighbouring cell, deterministically. Coordinates are kept as exact
    // 64-bit integers while |p / cellSize| < 2^53. Beyond that an axis is keyed by the
    // float's bit pattern instead: there the float grid is far coarser than the cell grid
    // (neighbouring floats are more than 2^29 cells apart), so every distinct float lies in
    // a distinct cell and the bit pattern names it exactly; the keys of that range sit
    // beyond +-2^62, ordered like the coordinates. Nothing is wrapped or clamped, whatever
    // the extent and the cell size. Surfels whose transformed position is not finite are
    // skipped.
    //
    // How cells are found: while every cell lies within 2^20 cells of the first one on each
    // axis (and within 32-bit coordinates), a cell's three offsets from the first cell are
    // packed into one 64-bit key and looked up in an open-addressing table. The first
    // surfel outside that range moves every cell so far into a second table keyed by the
    // three exact 64-bit coordinates (or bit-pattern keys), which then serves every later
    // surfel: slower, but exact for any extent. Cell numbers and order do not change.
    //
    // Representative of a cell, with weight w = quality^parameter per surfel (parameter 0:
    // w = 1; quality not above 0 or NaN: w = 0; containers without quality have quality 1,
    // so w = 1); a cell whose total weight is 0 or not finite uses w = 1 for all surfels:
    //  - position: weighted mean of the positions (in double precision);
    //  - normal: the weighted sum of the (unit, transformed) normals, normalised; the first
    //    surfel's normal when the sum has no direction;
    //  - colour and curvature: weighted means, rounded to the nearest integer;
    //  - quality: the maximum (NaN is ignored unless every quality is NaN);
    //  - tissue type: that of the surfel with the highest quality, the first one on ties;
    //  - boundary flag: set if any surfel's is.
    // The first surfel of a cell is the first one added, in the order of the AddSurfels
    // calls and by index within a container.
    //
    // Memory: when the parameter is given at construction and lies in [-6, 6], each cell's
    // sums are kept as surfels come in, and nothing is stored per surfel (weights of such
    // parameters cannot make a sum of float positions overflow). Otherwise every surfel
    // taken is stored (in the common frame) until GetSubsampled, which then sums each cell
    // with weights relative to its largest one, so that no weight makes a sum overflow.
    // A cell's sums take 192 bytes (three cache lines, two when summed without weights),
    // its slot in the cell table 16 bytes at most half full. All arrays come from
    // KaCSurfelMemoryPool.
public:
    // Refuses a cell size that is NaN, infinite, zero or negative. GetSubsampled may be
    // called with any parameter.
    explicit KaCGridSampler(float cellSize);
    // The same for the one `parameter` GetSubsampled will be called with (any other value
    // is refused there): for parameters in [-6, 6] cells are summed as surfels come in (see
    // Memory above). Gives the same representatives as the first form, up to rounding.
    KaCGridSampler(float cellSize, float parameter);

    float GetCellSize() const { return m_cellSize; }
    // Sizes the cell table ahead for the `surfels` surfels the coming AddSurfels calls will
    // bring (for one in 4 of them becoming a cell, up to 2^20 cells; beyond that it grows).
    // Optional: AddSurfels does the same for each container.
    void ExpectSurfels(uint64_t surfels);

    // Adds the surfels of `container` at their positions transformed by `transformation`
    // (row vectors, p × M; null for the identity), normals turned by its rotation part.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation);
    // The same, taking only surfels whose transformed position lies in at least one of
    // `spheres` (boundary included); an empty vector takes every surfel.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation,
                    const std::vector<CyBoundingSphere>& spheres);

    uint32_t GetNrOfUsedCells() const { return m_cellCount; }
    // Surfels taken so far.
    uint64_t GetNrOfSurfels() const { return m_surfelCount; }
    // Forgets every surfel and cell; keeps the memory.
    void Clear();

    // Writes the representatives at indices 0 to GetNrOfUsedCells() - 1 of `target`, which
    // must already hold at least that many surfels, and returns their number. Attributes
    // outside `attributeSet` are written as defaults (colour 0, curvature 0, quality 1);
    // attributes the target lacks are dropped. `sortByCell` true: cells in ascending order
    // of their coordinates (x, then y, then z); false: in the order they were first occupied.
    uint64_t GetSubsampled(KaCSurfelContainer& target, float parameter,
                           KaCSurfelContainer::ESurfelAttributeSet attributeSet,
                           bool sortByCell) const;

private:
    struct WideKey {
        int64_t x;
        int64_t y;
        int64_t z;
        bool operator==(const WideKey& other) const = default;
        bool operator<(const WideKey& other) const;
    };
    struct PackedHash {
        uint64_t operator()(uint64_t key) const { return key * 0x9E3779B97F4A7C15ull; }
    };
    struct WideHash {
        uint64_t operator()(const WideKey& key) const;
    };
    using PackedTable = KaTGridCellTable<uint64_t, PackedHash>;
    using WideTable = KaTGridCellTable<WideKey, WideHash>;

    // The summed values of a surfel, in this order: position x, y, z, normal x, y, z,
    // colour r, g, b, curvature.
    static constexpr int ms_nrValues = 10;
    // The sums of one cell. The plain sums weigh every surfel 1; the weighted ones, kept
    // only when weights are used, weigh each by its weight. Summing as surfels come in keeps
    // raw weights (the parameter is small enough that nothing overflows); summing stored
    // surfels keeps them relative to the largest weight so far (see Scale). The plain part
    // and what comes from single surfels fill the first two cache lines, so a cell summed
    // without weights touches two lines, one with weights three.
    struct alignas(64) CellSums {
        double plain[ms_nrValues];
        uint32_t count;  // surfels; more than 2^32 - 1 in one cell throw
        float quality;   // the maximum, NaN ignored
        float firstNormal[3];
        uint8_t tissueType;  // of the first surfel of the highest quality
        uint8_t boundary;
        double total;  // sum of the raw weights
        double weighted[ms_nrValues];
    };
    // Per cell, for summing stored surfels with weights relative to the largest one.
    struct Scale {
        double weight;   // sum of w / largest
        double largest;  // 0 while no weight was positive
    };
    // One surfel taken, in the common frame.
    struct Sample {
        float position[3];
        float normal[3];
        float quality;
        KaCCompressedColor color;
        uint8_t curvature;
        uint8_t tissueType;
        uint8_t boundary;
    };
    // The sums of every cell, by cell number (first-occupation order).
    struct Sums {
        KaTSegmentedArray<CellSums> cells;
        KaTSegmentedArray<Scale> scale;  // only when summing stored surfels with weights
        // Makes room for cells 0 to `cells` - 1.
        void Resize(size_t cells, bool scaled);
    };
    // The surfels of one step of AddSurfels, in the common frame.
    struct Chunk;

    // Adds one surfel to its cell (`isNew`: starts the cell with it). `raw`: the weighted
    // sums keep raw weights; otherwise relative to the cell's largest weight.
    static void addToCell(Sums& sums, uint32_t cell, bool isNew, const Sample& sample,
                          float parameter, bool raw);
    // Adds the surfels of a chunk through packed keys, or all through wide keys.
    void addChunk(Chunk& chunk, size_t n);
    void addChunkWide(const Chunk& chunk, size_t n);
    // Sums the runs of surfels in one cell (the cells of `count` taken surfels, in order),
    // for a container with or without colour and quality.
    template <bool withWeights, bool withColor, bool withQuality>
    void sumRuns(const Chunk& chunk, const uint32_t* cells, const uint16_t* which,
                 const uint8_t* isNew, size_t count);
    // Starts loading the sums of `cell` for a coming run.
    template <bool withWeights>
    void prefetchSums(uint32_t cell) const;
    void writeRepresentatives(KaCSurfelContainer& target, const Sums& sums, float parameter,
                              KaCSurfelContainer::ESurfelAttributeSet attributeSet, bool sortByCell,
                              bool raw) const;
    std::vector<uint32_t> cellsInKeyOrder() const;

    int64_t axisKey(float coordinate) const;
    WideKey wideKeyOf(float x, float y, float z) const;
    // The cell of the key; a new key gets a new cell, numbered m_cellCount, with `isNew`.
    uint32_t cellOfWide(const WideKey& key, bool& isNew);
    void checkCellCount() const;
    // Sets m_origin to the cell of (x, y, z); false where that cell cannot be packed.
    bool packedOrigin(float x, float y, float z);
    void switchToWideKeys();
    void take(uint32_t cell, const Sample& sample);

    float m_cellSize;
    double m_cellSizeDouble;
    bool m_parameterGiven;  // GetSubsampled takes no other parameter
    bool m_summing;         // sums are kept as surfels come in, with raw weights
    float m_parameter;
    uint32_t m_cellCount = 0;
    uint64_t m_surfelCount = 0;

    // Packed keys: while m_packed, offsets from m_origin, 21 bits per axis.
    bool m_packed = true;
    int64_t m_origin[3] = {0, 0, 0};
    PackedTable m_packedTable;
    WideTable m_wideTable;

    Sums m_sums;                          // when summing
    KaTSegmentedArray<Sample> m_samples;  // otherwise, every surfel taken
    KaTSegmentedArray<uint32_t> m_sampleCells;
};
