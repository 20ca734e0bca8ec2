#pragma once

#include <cstdint>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/KaCSurfelContainer.h"

// The points of `ttree view`, attribute by attribute in the compact forms the page decodes
// into typed arrays:
//  - positions: three float32 per point, in the session frame, millimetres;
//  - normals: three int8 per point, the unit normal times 127, rounded (the page reads them
//    as normalised bytes);
//  - colours: three uint8 per point (red, green, blue); surfels without colour get a
//    neutral grey so that "the scan's own colours" still shows the shape;
//  - qualities: one uint16 per point, the quality clamped to [0, 1] times 65535, rounded;
//    NaN counts as 0, and containers without quality give 1 (the library's default).
// Points whose carried position is not finite are left out: the page has nowhere to put
// them. Not synchronised; allocation failure throws std::bad_alloc.
class ViewPoints {
public:
    // Appends every surfel of `surfels` carried by `trafo` (row vectors, p × M; normals by
    // its rotation part) and returns the number appended.
    uint32_t Append(const KaCSurfelContainer& surfels, const CbMatrix4Rd& trafo);
    // Makes room for `count` points in all, so that appending that many copies nothing
    // (appending grows the arrays geometrically otherwise).
    void Reserve(uint64_t count);

    uint64_t GetCount() const { return m_qualities.size(); }
    const std::vector<float>& GetPositions() const { return m_positions; }
    const std::vector<int8_t>& GetNormals() const { return m_normals; }
    const std::vector<uint8_t>& GetColors() const { return m_colors; }
    const std::vector<uint16_t>& GetQualities() const { return m_qualities; }

    // The grey of surfels without colour.
    static constexpr uint8_t c_grey = 190;

private:
    std::vector<float> m_positions;
    std::vector<int8_t> m_normals;
    std::vector<uint8_t> m_colors;
    std::vector<uint16_t> m_qualities;
};
