#include "tools/ttree/ViewPoints.h"

#include <algorithm>
#include <cmath>

namespace {

int8_t quantizedNormal(float component) {
    return static_cast<int8_t>(std::lround(std::clamp(component, -1.0f, 1.0f) * 127.0f));
}

uint16_t quantizedQuality(float quality) {
    if (!(quality > 0.0f)) {
        return 0;  // also NaN
    }
    return static_cast<uint16_t>(std::lround(std::min(quality, 1.0f) * 65535.0f));
}

}  // namespace

void ViewPoints::Reserve(uint64_t count) {
    m_positions.reserve(3 * count);
    m_normals.reserve(3 * count);
    m_colors.reserve(3 * count);
    m_qualities.reserve(count);
}

uint32_t ViewPoints::Append(const KaCSurfelContainer& surfels, const CbMatrix4Rd& trafo) {
    const uint32_t count = surfels.GetNrSurfels();
    const bool hasColor = surfels.HasColor();
    uint32_t appended = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const KaCSurfel surfel = surfels.GetSurfel(i);
        // In double precision, as the tree composes its transformations.
        const double p[3] = {surfel.position.x, surfel.position.y, surfel.position.z};
        float q[3];
        for (size_t c = 0; c < 3; ++c) {
            q[c] = static_cast<float>(p[0] * trafo(0, c) + p[1] * trafo(1, c) + p[2] * trafo(2, c) +
                                      trafo(3, c));
        }
        if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) {
            continue;
        }
        double n[3];
        for (size_t c = 0; c < 3; ++c) {
            n[c] = surfel.normal.x * trafo(0, c) + surfel.normal.y * trafo(1, c) +
                   surfel.normal.z * trafo(2, c);
        }
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const bool usable = std::isfinite(length) && length > 0.0;
        m_positions.insert(m_positions.end(), q, q + 3);
        for (size_t c = 0; c < 3; ++c) {
            m_normals.push_back(usable ? quantizedNormal(static_cast<float>(n[c] / length))
                                       : static_cast<int8_t>(c == 2 ? 127 : 0));
        }
        if (hasColor) {
            m_colors.insert(m_colors.end(), {surfel.color.r, surfel.color.g, surfel.color.b});
        } else {
            m_colors.insert(m_colors.end(), {c_grey, c_grey, c_grey});
        }
        m_qualities.push_back(quantizedQuality(surfel.quality));
        ++appended;
    }
    return appended;
}
