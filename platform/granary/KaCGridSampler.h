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
// Not synchronised: one thread at a time, GetSubsampled may run concurrently with itself;
// AddSurfels may use further threads of its own (see Threads below), with the same result.
// A cell size that is not finite and positive, a too small target, a parameter other than
// the one announced at construction and more than 2^32 - 2 cells throw CbException;
// allocation failure throws CbExceptionOutOfMemory. After an exception in AddSurfels the
// sampler holds part of the container's surfels (Clear starts again).
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
    // All arrays come from KaCSurfelMemoryPool.
    //
    // Threads (SetThreads, SetParallelThreshold; off by default, see below): a container of
    // at least GetParallelThreshold() surfels, added
    // while cells are summed as surfels come in or kept per surfel and while packed keys
    // serve, is taken in blocks of ms_blockSize surfels, each in three phases:
    //  1. in parallel, by groups of steps: positions transformed, normals turned, spheres
    //     tested, cell coordinates and packed keys computed, weights taken, all per step of
    //     256 surfels exactly as one thread computes them;
    //  2. on the calling thread, in input order: each key looked up, new cells numbered as
    //     they come (so first-occupation numbering holds by construction), surfels kept
    //     when not summing;
    //  3. in parallel when summing, partitioned by cell (groups of 8 cell numbers dealt out
    //     over the partitions): each partition walks the block's steps in input order and
    //     adds the runs of its cells, the same runs (consecutive surfels of one step taken
    //     for one cell) one thread adds, in the same order, with the same operations.
    // The phases of neighbouring blocks overlap: while the calling thread numbers block k,
    // the other threads sum block k - 1 and compute the keys of block k + 1 (the sums are
    // sized for every cell numbered before; numbering never touches them). Nobody waits for
    // a particular thread: the calling thread joins the other tasks once it is done.
    // So the cells, their numbers and every representative are those of one thread, bit for
    // bit, for any number of threads. The one-thread path takes a container below the
    // threshold, the steps before the first cell (which fixes the packed origin), and
    // everything from the first surfel that needs wide keys on (wide keys stay on one
    // thread: they are for extents nobody scans). Per call the parallel path holds three
    // blocks' per-surfel arrays (44 bytes a surfel: transformed position and normal,
    // weight, key and cell number; ms_blockSize surfels a block: about 2.2 MB in all,
    // whatever the container's size), from KaCSurfelMemoryPool (CbExceptionOutOfMemory on
    // failure).
    // Parallel work runs on oneTBB: in the calling thread's task arena by default (inside a
    // KaCBottomUpModelBuilder build, the builder's arena), isolated so that a thread
    // waiting for the sampler's tasks takes no unrelated task meanwhile, with the calling
    // thread's floating-point settings. Builds with ThreadSanitizer use std::threads
    // instead (oneTBB's own synchronisation is not instrumented). The tasks write only
    // their own steps of a block's arrays and their own cells' sums, and read nothing that
    // changes meanwhile: the table and the counters are phase 2's, which runs on the
    // calling thread and is read by no task; the sums grow only while no task runs.
    // Phases 1 and 3 do not throw; what phase 2 throws (allocation failure, too many cells)
    // is rethrown once the tasks beside it are done.
public:
    // The parallel path is off by default: on the 2-core machine it was measured on it did
    // not pay at any container size (docs/PERFORMANCE.md, "The grid sampler on several
    // threads"), so samplers start with a threshold no container reaches. A caller (or
    // SetDefaultParallelThreshold, process-wide) turns it on with a threshold such as
    // ms_suggestedParallelThreshold, below which the phases' hand-overs outweigh the work.
    static constexpr uint32_t ms_defaultParallelThreshold = UINT32_MAX;
    static constexpr uint32_t ms_suggestedParallelThreshold = 16384;
    // Surfels per block of the parallel path.
    static constexpr uint32_t ms_blockSize = 16384;

    // Refuses a cell size that is NaN, infinite, zero or negative. GetSubsampled may be
    // called with any parameter.
    explicit KaCGridSampler(float cellSize);
    // The same for the one `parameter` GetSubsampled will be called with (any other value
    // is refused there): for parameters in [-6, 6] cells are summed as surfels come in (see
    // Memory above). Gives the same representatives as the first form, up to rounding.
    KaCGridSampler(float cellSize, float parameter);

    float GetCellSize() const { return m_cellSize; }
    // Sizes the cell table ahead for the `surfels` surfels the coming AddSurfels calls will
    // bring (for one in 8 of them becoming a cell; beyond that it grows). Optional:
    // AddSurfels does the same for each container.
    void ExpectSurfels(uint64_t surfels);

    // Adds the surfels of `container` at their positions transformed by `transformation`
    // (row vectors, p × M; null for the identity), normals turned by its rotation part.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation);
    // The same, taking only surfels whose transformed position lies in at least one of
    // `spheres` (boundary included); an empty vector takes every surfel.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation,
                    const std::vector<CyBoundingSphere>& spheres);

    // Threads for AddSurfels: 0 (the default) the calling thread's task arena (all cores
    // unless the caller limits it with a tbb::task_arena or tbb::global_control; in a
    // KaCBottomUpModelBuilder build, the builder's threads), 1 the calling thread alone,
    // n > 1 n partitions in an arena of n threads (oneTBB runs no more threads at once than
    // the process allows). The results do not depend on it.
    void SetThreads(uint32_t threads) { m_threads = threads; }
    uint32_t GetThreads() const { return m_threads; }
    // Containers of fewer surfels are added on one thread (0: every container may go
    // parallel; UINT32_MAX, the default: none). Starts at GetDefaultParallelThreshold().
    void SetParallelThreshold(uint32_t surfels) { m_parallelThreshold = surfels; }
    uint32_t GetParallelThreshold() const { return m_parallelThreshold; }
    // The threshold samplers made from now on start with, process-wide (for code that makes
    // its own samplers, such as model building, and for benchmarks that compare the paths
    // there); thread-safe. UINT32_MAX (ms_defaultParallelThreshold) keeps every sampler on
    // one thread.
    static void SetDefaultParallelThreshold(uint32_t surfels);
    static uint32_t GetDefaultParallelThreshold();

    uint32_t GetNrOfUsedCells() const { return m_cellCount; }
    // Surfels taken so far.
    uint64_t GetNrOfSurfels() const { return m_surfelCount; }
    // How many of them the parallel path took (for tests and diagnostics).
    uint64_t GetNrOfSurfelsTakenInParallel() const { return m_parallelSurfelCount; }
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
    // Per cell, every surfel weighing 1, and what comes from single surfels.
    struct alignas(64) PlainSums {
        double values[ms_nrValues];
        double count;
        float quality;      // the maximum, NaN ignored
        float bestQuality;  // the quality of the surfel whose tissue type is taken
        float firstNormal[3];
        uint8_t tissueType;
        uint8_t boundary;
    };
    // Per cell, weighted; kept beside the plain sums when weights are used. Summing as
    // surfels come in keeps raw weights (the parameter is small enough that nothing
    // overflows); summing stored surfels keeps them relative to the largest weight so far.
    struct alignas(64) WeightedSums {
        double values[ms_nrValues];
        double total;    // sum of the raw weights
        double weight;   // relative: sum of w / largest
        double largest;  // relative: 0 while no weight was positive
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
        KaTSegmentedArray<PlainSums> plain;
        KaTSegmentedArray<WeightedSums> weighted;  // only for a parameter other than 0
        // Makes room for cells 0 to `cells` - 1.
        void Resize(size_t cells, bool withWeights);
    };
    // The surfels of one step of AddSurfels, in the common frame.
    struct Chunk;
    // One step of a block of the parallel path: the same fields over the block's arrays.
    struct ChunkView;
    // The per-surfel arrays of one block of the parallel path, and what every step reads.
    struct Block;

    // Adds one surfel to its cell (`isNew`: starts the cell with it). `raw`: the weighted
    // sums keep raw weights; otherwise relative to the cell's largest weight.
    static void addToCell(Sums& sums, uint32_t cell, bool isNew, const Sample& sample,
                          float parameter, bool raw);
    // Adds the surfels of a chunk through packed keys, or all through wide keys.
    void addChunk(Chunk& chunk, size_t n);
    void addChunkWide(const Chunk& chunk, size_t n);
    // Sums the runs of surfels in one cell (the cells of `count` taken surfels, in order),
    // for a container with or without colour and quality. `explicitRuns`: a run ends
    // where `startsRun` is set (the surfels of one partition of the parallel path, where
    // neighbours in the list need not have been neighbours in the step); otherwise where
    // the cell changes.
    template <class Source, bool explicitRuns, bool withWeights, bool withColor, bool withQuality>
    void sumRuns(const Source& chunk, const uint32_t* cells, const uint16_t* which,
                 const uint8_t* isNew, const uint8_t* startsRun, size_t count);
    // sumRuns for the container's attributes.
    template <class Source, bool explicitRuns>
    void sumRunsOf(const Source& chunk, const uint32_t* cells, const uint16_t* which,
                   const uint8_t* isNew, const uint8_t* startsRun, size_t count);
    // AddSurfels: the one-thread path over the surfels [from, to) (`from` starts a step:
    // a multiple of 256, so that the steps are those of one call over the container).
    void addSteps(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation,
                  const std::vector<CyBoundingSphere>& spheres, uint32_t from, uint32_t to);
    // The parallel path over the steps from surfel `from` on (see Threads above); returns
    // where the one-thread path must go on (the container's size when done).
    uint32_t addParallel(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation,
                         const std::vector<CyBoundingSphere>& spheres, uint32_t from,
                         uint32_t threads);
    // Phase 1 of the parallel path for steps [first, last) of the block.
    void keysOfSteps(Block& block, size_t first, size_t last) const;
    // Phase 2 for the block's `steps` steps; returns the number of steps done (fewer when
    // a step needs wide keys).
    size_t numberBlock(Block& block, size_t steps);
    // Phase 3 for partition `part` of `parts` over the block's first `steps` steps, whose
    // cells numbered from `firstNew` on are new.
    void sumPartition(const Block& block, size_t steps, uint32_t part, uint32_t parts,
                      uint32_t firstNew);
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
    void switchToWideKeys();
    void take(uint32_t cell, const Sample& sample);

    float m_cellSize;
    double m_cellSizeDouble;
    bool m_parameterGiven;  // GetSubsampled takes no other parameter
    bool m_summing;         // sums are kept as surfels come in, with raw weights
    float m_parameter;
    uint32_t m_cellCount = 0;
    uint64_t m_surfelCount = 0;
    uint64_t m_parallelSurfelCount = 0;
    uint32_t m_threads = 0;
    uint32_t m_parallelThreshold;

    // Packed keys: while m_packed, offsets from m_origin, 21 bits per axis.
    bool m_packed = true;
    int64_t m_origin[3] = {0, 0, 0};
    PackedTable m_packedTable;
    WideTable m_wideTable;

    Sums m_sums;                          // when summing
    KaTSegmentedArray<Sample> m_samples;  // otherwise, every surfel taken
    KaTSegmentedArray<uint32_t> m_sampleCells;
};
