#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCCompressedColor.h"
#include "platform/granary/KaCSurfelContainer.h"
#include "platform/prism/CyBoundingSphere.h"

// Thins surfels out on a grid of cubic cells: AddSurfels collects surfels (transformed into
// a common frame), GetSubsampled writes one representative surfel per occupied cell. The
// cell and representative rules are described at the top of the class.
// Not synchronised: one thread at a time, GetSubsampled may run concurrently with itself.
// A bad cell size, a too small target and more than 2^32 - 1 cells throw CbException.
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
public:
    // Refuses a cell size that is NaN, infinite, zero or negative.
    explicit KaCGridSampler(float cellSize);

    float GetCellSize() const { return m_cellSize; }

    // Adds the surfels of `container` at their positions transformed by `transformation`
    // (row vectors, p × M; null for the identity), normals turned by its rotation part.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation);
    // The same, taking only surfels whose transformed position lies in at least one of
    // `spheres` (boundary included); an empty vector takes every surfel.
    void AddSurfels(const KaCSurfelContainer& container, const CbMatrix4Rf* transformation,
                    const std::vector<CyBoundingSphere>& spheres);

    uint32_t GetNrOfUsedCells() const { return static_cast<uint32_t>(m_cellKeys.size()); }
    // Surfels taken so far.
    uint64_t GetNrOfSurfels() const { return m_samples.size(); }
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
    struct CellKey {
        int64_t x;
        int64_t y;
        int64_t z;
        bool operator==(const CellKey& other) const = default;
        bool operator<(const CellKey& other) const;
    };
    struct CellKeyHash {
        size_t operator()(const CellKey& key) const;
    };
    // One surfel taken, in the common frame.
    struct Sample {
        CbVector3f position;
        CbVector3f normal;
        float quality;
        uint32_t cell;
        KaCCompressedColor color;
        uint8_t curvature;
        uint8_t tissueType;
        bool boundary;
    };

    int64_t axisKey(float coordinate) const;
    uint32_t cellOf(const CbVector3f& position);

    float m_cellSize;
    double m_cellSizeDouble;
    std::unordered_map<CellKey, uint32_t, CellKeyHash> m_cellIndex;
    std::vector<CellKey> m_cellKeys;  // by cell index: order of first occupation
    std::vector<Sample> m_samples;
};
