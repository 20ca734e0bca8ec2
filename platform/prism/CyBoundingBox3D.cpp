#include "platform/prism/CyBoundingBox3D.h"

#include <algorithm>
#include <cmath>

void CyBoundingBox3D::Extend(const CbVector3f& point) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y) || !std::isfinite(point.z)) {
        return;
    }
    if (IsEmpty()) {  // any empty box, also one inverted along a single axis
        m_min = point;
        m_max = point;
        return;
    }
    m_min = {std::min(m_min.x, point.x), std::min(m_min.y, point.y), std::min(m_min.z, point.z)};
    m_max = {std::max(m_max.x, point.x), std::max(m_max.y, point.y), std::max(m_max.z, point.z)};
}

void CyBoundingBox3D::Extend(const CyBoundingBox3D& box) {
    if (box.IsEmpty()) {
        return;
    }
    if (IsEmpty()) {
        *this = box;
        return;
    }
    m_min = {std::min(m_min.x, box.m_min.x), std::min(m_min.y, box.m_min.y),
             std::min(m_min.z, box.m_min.z)};
    m_max = {std::max(m_max.x, box.m_max.x), std::max(m_max.y, box.m_max.y),
             std::max(m_max.z, box.m_max.z)};
}

void CyBoundingBox3D::Transform(const CbMatrix4Rf& trafo) {
    if (IsEmpty()) {
        return;
    }
    CyBoundingBox3D result;
    for (int corner = 0; corner < 8; ++corner) {
        CbVector3f p{(corner & 1) ? m_max.x : m_min.x, (corner & 2) ? m_max.y : m_min.y,
                     (corner & 4) ? m_max.z : m_min.z};
        result.Extend(trafo.TransformPoint(p));
    }
    *this = result;
}
