#include "platform/granary/KaCGridSampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <tuple>

#include "platform/harbor/CbException.h"

namespace {

// |floor(p / cellSize)| below this is kept as an exact integer.
constexpr double c_exactLimit = 9007199254740992.0;  // 2^53
// Offset of the keys taken from bit patterns, beyond every exact integer key.
constexpr int64_t c_bitPatternOffset = int64_t{1} << 62;

bool isFinite(const CbVector3f& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

double weightOf(float quality, float parameter) {
    if (parameter == 0.0f) {
        return 1.0;
    }
    if (!(quality > 0.0f)) {
        return 0.0;
    }
    return std::pow(static_cast<double>(quality), static_cast<double>(parameter));
}

uint8_t roundToByte(double value) {
    // Weighted means of bytes lie in [0, 255]; the clamp only guards rounding.
    return static_cast<uint8_t>(std::clamp(std::nearbyint(value), 0.0, 255.0));
}

// Per cell: sums of the output step.
struct Accumulator {
    double weight = 0.0;
    double position[3] = {0.0, 0.0, 0.0};
    double normal[3] = {0.0, 0.0, 0.0};
    double color[3] = {0.0, 0.0, 0.0};
    double curvature = 0.0;
    float quality = std::numeric_limits<float>::quiet_NaN();
    float bestQuality = std::numeric_limits<float>::quiet_NaN();
    uint8_t tissueType = 0;
    bool boundary = false;
    bool started = false;
    CbVector3f firstNormal;
};

}  // namespace

KaCGridSampler::KaCGridSampler(float cellSize) : m_cellSize(cellSize), m_cellSizeDouble(cellSize) {
    if (!std::isfinite(cellSize) || !(cellSize > 0.0f)) {
        CB_THROW(CbException, "KaCGridSampler: the cell size must be finite and positive, not " +
                                  std::to_string(cellSize));
    }
}

bool KaCGridSampler::CellKey::operator<(const CellKey& other) const {
    return std::tie(x, y, z) < std::tie(other.x, other.y, other.z);
}

size_t KaCGridSampler::CellKeyHash::operator()(const CellKey& key) const {
    uint64_t h = static_cast<uint64_t>(key.x) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<uint64_t>(key.y) + 0xBF58476D1CE4E5B9ull + (h << 6) + (h >> 2);
    h ^= static_cast<uint64_t>(key.z) + 0x94D049BB133111EBull + (h << 6) + (h >> 2);
    h ^= h >> 31;
    return static_cast<size_t>(h * 0xD6E8FEB86659FD93ull);
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

uint32_t KaCGridSampler::cellOf(const CbVector3f& position) {
    const CellKey key{axisKey(position.x), axisKey(position.y), axisKey(position.z)};
    const auto next = static_cast<uint32_t>(m_cellKeys.size());
    auto [it, inserted] = m_cellIndex.try_emplace(key, next);
    if (inserted) {
        if (next == UINT32_MAX) {
            m_cellIndex.erase(it);
            CB_THROW(CbException, "KaCGridSampler: more than 2^32 - 1 cells");
        }
        m_cellKeys.push_back(key);
    }
    return it->second;
}

void KaCGridSampler::AddSurfels(const KaCSurfelContainer& container,
                                const CbMatrix4Rf* transformation) {
    AddSurfels(container, transformation, {});
}

void KaCGridSampler::AddSurfels(const KaCSurfelContainer& container,
                                const CbMatrix4Rf* transformation,
                                const std::vector<CyBoundingSphere>& spheres) {
    const uint32_t count = container.GetNrSurfels();
    const KaTSurfelAccessor<CbVector3f> positions = container.GetPositionAccessor();
    const KaTSurfelAccessor<KaCQuantizedNormal> normals = container.GetNormalAccessor();
    const KaTSurfelAccessor<uint8_t> tissueTypes = container.GetTissueTypeAccessor();
    const KaTSurfelAccessor<bool> boundaryFlags = container.GetBoundaryFlagAccessor();
    const bool hasColor = container.HasColor();
    const bool hasQuality = container.HasQualityFlag();
    const CbMatrix4Rf rotation =
        transformation ? transformation->WithoutTranslation() : CbMatrix4Rf();

    // Attributes the container lacks read from a one-element stand-in with stride 0.
    static const float defaultQuality = 1.0f;
    static const KaCCompressedColor defaultColor;
    static const uint8_t defaultCurvature = 0;
    const KaTSurfelAccessor<float> qualities =
        hasQuality ? container.GetQualityAccessor()
                   : KaTSurfelAccessor<float>(&defaultQuality, 0, count);
    const KaTSurfelAccessor<KaCCompressedColor> colors =
        hasColor ? container.GetAccessor<KaCCompressedColor>(KaCSurfelContainer::eAttributeIdColor)
                 : KaTSurfelAccessor<KaCCompressedColor>(&defaultColor, 0, count);
    const KaTSurfelAccessor<uint8_t> curvatures =
        hasColor ? container.GetAccessor<uint8_t>(KaCSurfelContainer::eAttributeIdCurvature)
                 : KaTSurfelAccessor<uint8_t>(&defaultCurvature, 0, count);

    m_samples.reserve(m_samples.size() + count);
    for (uint32_t i = 0; i < count; ++i) {
        const CbVector3f position =
            transformation ? transformation->TransformPoint(positions[i]) : positions[i];
        if (!isFinite(position)) {
            continue;
        }
        if (!spheres.empty() &&
            std::none_of(spheres.begin(), spheres.end(), [&](const CyBoundingSphere& sphere) {
                return sphere.Contains(position);
            })) {
            continue;
        }
        const CbVector3f normal = normals[i].Get();
        Sample sample;
        sample.position = position;
        sample.normal = transformation ? rotation.TransformVector(normal).Normalized() : normal;
        sample.quality = qualities[i];
        sample.cell = cellOf(position);
        sample.color = colors[i];
        sample.curvature = curvatures[i];
        sample.tissueType = tissueTypes[i];
        sample.boundary = boundaryFlags[i];
        m_samples.push_back(sample);
    }
}

void KaCGridSampler::Clear() {
    m_cellIndex.clear();
    m_cellKeys.clear();
    m_samples.clear();
}

uint64_t KaCGridSampler::GetSubsampled(KaCSurfelContainer& target, float parameter,
                                       KaCSurfelContainer::ESurfelAttributeSet attributeSet,
                                       bool sortByCell) const {
    if (!KaCSurfelContainer::IsValidAttributeSet(static_cast<uint32_t>(attributeSet))) {
        CB_THROW(CbException, "KaCGridSampler::GetSubsampled: unknown attribute set");
    }
    const size_t nrCells = m_cellKeys.size();
    if (target.GetNrSurfels() < nrCells) {
        CB_THROW(CbException, "KaCGridSampler::GetSubsampled: the target holds " +
                                  std::to_string(target.GetNrSurfels()) + " surfels, " +
                                  std::to_string(nrCells) + " are needed");
    }

    // Which cells average with their weights: those whose total weight is usable. Weights
    // are divided by the cell's largest one, so that no sum can overflow.
    std::vector<double> totalWeight(nrCells, 0.0);
    std::vector<double> largestWeight(nrCells, 0.0);
    for (const Sample& sample : m_samples) {
        const double w = weightOf(sample.quality, parameter);
        totalWeight[sample.cell] += w;
        largestWeight[sample.cell] = std::max(largestWeight[sample.cell], w);
    }

    std::vector<Accumulator> cells(nrCells);
    for (const Sample& sample : m_samples) {
        Accumulator& cell = cells[sample.cell];
        const double total = totalWeight[sample.cell];
        const bool weighted = total > 0.0 && std::isfinite(total);
        const double w =
            weighted ? weightOf(sample.quality, parameter) / largestWeight[sample.cell] : 1.0;
        cell.weight += w;
        cell.position[0] += w * sample.position.x;
        cell.position[1] += w * sample.position.y;
        cell.position[2] += w * sample.position.z;
        cell.normal[0] += w * sample.normal.x;
        cell.normal[1] += w * sample.normal.y;
        cell.normal[2] += w * sample.normal.z;
        cell.color[0] += w * sample.color.r;
        cell.color[1] += w * sample.color.g;
        cell.color[2] += w * sample.color.b;
        cell.curvature += w * sample.curvature;
        if (std::isnan(cell.quality) || sample.quality > cell.quality) {
            cell.quality = sample.quality;
        }
        if (!cell.started) {
            cell.bestQuality = sample.quality;
            cell.tissueType = sample.tissueType;
            cell.firstNormal = sample.normal;
            cell.started = true;
        } else if (!std::isnan(sample.quality) &&
                   (std::isnan(cell.bestQuality) || sample.quality > cell.bestQuality)) {
            cell.bestQuality = sample.quality;
            cell.tissueType = sample.tissueType;
        }
        cell.boundary = cell.boundary || sample.boundary;
    }

    std::vector<uint32_t> order(nrCells);
    std::iota(order.begin(), order.end(), 0u);
    if (sortByCell) {
        std::sort(order.begin(), order.end(),
                  [this](uint32_t a, uint32_t b) { return m_cellKeys[a] < m_cellKeys[b]; });
    }

    const bool withColor = attributeSet != KaCSurfelContainer::eSurfelAttributeSetBasic;
    const bool withQuality = attributeSet == KaCSurfelContainer::eSurfelAttributeSetFull;
    for (uint32_t index = 0; index < nrCells; ++index) {
        const Accumulator& cell = cells[order[index]];
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(cell.position[0] / cell.weight),
                           static_cast<float>(cell.position[1] / cell.weight),
                           static_cast<float>(cell.position[2] / cell.weight)};
        const double length =
            std::sqrt(cell.normal[0] * cell.normal[0] + cell.normal[1] * cell.normal[1] +
                      cell.normal[2] * cell.normal[2]);
        if (length > 0.0 && std::isfinite(length)) {
            surfel.normal = {static_cast<float>(cell.normal[0] / length),
                             static_cast<float>(cell.normal[1] / length),
                             static_cast<float>(cell.normal[2] / length)};
        } else {
            surfel.normal = cell.firstNormal;
        }
        if (withColor) {
            surfel.color = {roundToByte(cell.color[0] / cell.weight),
                            roundToByte(cell.color[1] / cell.weight),
                            roundToByte(cell.color[2] / cell.weight)};
            surfel.curvature = roundToByte(cell.curvature / cell.weight);
        }
        if (withQuality) {
            surfel.quality = cell.quality;
        }
        surfel.tissueType = cell.tissueType;
        surfel.boundary = cell.boundary;
        target.SetSurfel(index, surfel);
    }
    return nrCells;
}
