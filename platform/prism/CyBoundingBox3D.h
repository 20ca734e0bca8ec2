#pragma once

#include <limits>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"

// An axis-aligned box in float coordinates. Default construction gives the empty box. Any
// empty box (minimum above maximum along some axis) encloses nothing, and Extend replaces it.
class CyBoundingBox3D {
public:
    CyBoundingBox3D() = default;
    CyBoundingBox3D(const CbVector3f& minimum, const CbVector3f& maximum)
        : m_min(minimum), m_max(maximum) {}

    bool IsEmpty() const { return m_min.x > m_max.x || m_min.y > m_max.y || m_min.z > m_max.z; }
    const CbVector3f& GetMin() const { return m_min; }
    const CbVector3f& GetMax() const { return m_max; }
    CbVector3f GetCenter() const { return (m_min + m_max) * 0.5f; }
    CbVector3f GetExtent() const { return IsEmpty() ? CbVector3f() : m_max - m_min; }

    // Grows the box to enclose the point (non-finite coordinates are ignored).
    void Extend(const CbVector3f& point);
    // Grows the box to enclose `box`; an empty box changes nothing.
    void Extend(const CyBoundingBox3D& box);
    // Replaces the box by the box of its eight corners transformed by `trafo` (points as
    // row vectors). The empty box stays empty.
    void Transform(const CbMatrix4Rf& trafo);

    bool operator==(const CyBoundingBox3D& other) const = default;

private:
    CbVector3f m_min{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                     std::numeric_limits<float>::infinity()};
    CbVector3f m_max{-std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity(),
                     -std::numeric_limits<float>::infinity()};
};
