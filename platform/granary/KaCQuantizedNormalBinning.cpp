#include "platform/granary/KaCQuantizedNormalBinning.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

namespace {

constexpr uint32_t c_currentVersion = 1;

float signOf(float value) {
    return value < 0.0f ? -1.0f : 1.0f;
}

// Octahedral map coordinate in [0, 1) or exactly 1 to a bin along one axis.
uint32_t axisBin(float unit) {
    const auto bin =
        static_cast<int>(std::floor(unit * KaCQuantizedNormalBinning::ms_nrBinsPerAxis));
    return static_cast<uint32_t>(
        std::clamp(bin, 0, static_cast<int>(KaCQuantizedNormalBinning::ms_nrBinsPerAxis) - 1));
}

}  // namespace

uint32_t KaCQuantizedNormalBinning::GetBinIndex(const CbVector3f& direction) {
    const float largest =
        std::max(std::fabs(direction.x), std::max(std::fabs(direction.y), std::fabs(direction.z)));
    if (!(largest > 0.0f) || !std::isfinite(largest)) {
        return ms_nrBins;
    }
    const float x = direction.x / largest;
    const float y = direction.y / largest;
    const float z = direction.z / largest;
    const float l1 = std::fabs(x) + std::fabs(y) + std::fabs(z);
    float u = x / l1;
    float v = y / l1;
    if (z < 0.0f) {
        const float foldedU = (1.0f - std::fabs(v)) * signOf(u);
        const float foldedV = (1.0f - std::fabs(u)) * signOf(v);
        u = foldedU;
        v = foldedV;
    }
    return axisBin((u + 1.0f) * 0.5f) * ms_nrBinsPerAxis + axisBin((v + 1.0f) * 0.5f);
}

CbVector3f KaCQuantizedNormalBinning::GetBinDirection(uint32_t bin) {
    if (bin >= ms_nrBins) {
        return CbVector3f();
    }
    const float u =
        (static_cast<float>(bin / ms_nrBinsPerAxis) + 0.5f) / ms_nrBinsPerAxis * 2.0f - 1.0f;
    const float v =
        (static_cast<float>(bin % ms_nrBinsPerAxis) + 0.5f) / ms_nrBinsPerAxis * 2.0f - 1.0f;
    CbVector3f d{u, v, 1.0f - std::fabs(u) - std::fabs(v)};
    if (d.z < 0.0f) {
        d.x = (1.0f - std::fabs(v)) * signOf(u);
        d.y = (1.0f - std::fabs(u)) * signOf(v);
    }
    return d.Normalized();
}

void KaCQuantizedNormalBinning::AddNormal(const CbVector3f& direction, uint32_t count) {
    const uint32_t bin = GetBinIndex(direction);
    if (bin < ms_nrBins) {
        const uint32_t room = UINT32_MAX - m_counts[bin];
        m_counts[bin] += std::min(count, room);
    }
}

uint64_t KaCQuantizedNormalBinning::GetTotalCount() const {
    uint64_t total = 0;
    for (uint32_t count : m_counts) {
        total += count;
    }
    return total;
}

CbVector3f KaCQuantizedNormalBinning::ComputeMeanDirectionAboveThresholdCount(
    uint32_t threshold) const {
    double sum[3] = {0.0, 0.0, 0.0};
    double used = 0.0;
    for (uint32_t bin = 0; bin < ms_nrBins; ++bin) {
        const uint32_t count = m_counts[bin];
        if (count < threshold || count == 0) {
            continue;
        }
        const CbVector3f d = GetBinDirection(bin);
        sum[0] += static_cast<double>(count) * d.x;
        sum[1] += static_cast<double>(count) * d.y;
        sum[2] += static_cast<double>(count) * d.z;
        used += count;
    }
    const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    // Opposite bins can cancel to rounding noise; such a sum has no direction.
    if (!(length > 1e-9 * used)) {
        return CbVector3f();
    }
    return {static_cast<float>(sum[0] / length), static_cast<float>(sum[1] / length),
            static_cast<float>(sum[2] / length)};
}

void KaCQuantizedNormalBinning::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_currentVersion);
    stream.WriteUInt32(ms_nrBins);
    for (uint32_t count : m_counts) {
        stream.WriteUInt32(count);
    }
}

void KaCQuantizedNormalBinning::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCQuantizedNormalBinning record", {c_currentVersion});
    const uint32_t nrBins = stream.ReadUInt32();
    if (nrBins != ms_nrBins) {
        CB_THROW(CbException,
                 "KaCQuantizedNormalBinning: corrupt stream: " + std::to_string(nrBins) +
                     " bins, expected " + std::to_string(ms_nrBins));
    }
    stream.RequireRemaining(ms_nrBins, sizeof(uint32_t), "normal bin");
    std::array<uint32_t, ms_nrBins> counts{};
    for (uint32_t& count : counts) {
        count = stream.ReadUInt32();
    }
    m_counts = counts;
}
