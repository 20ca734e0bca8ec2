#include "tools/ttree/SyntheticScanner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "platform/abacus/CbMatrixInternal.h"
#include "platform/granary/KaCSurfel.h"

namespace {

// The arch: y = c_depth * (1 - (x / c_halfWidth)^2), opening towards -y.
constexpr float c_halfWidth = 28.5f;
constexpr float c_depth = 37.0f;
constexpr int c_teeth = 14;
// The scanner's field of view and its height above the arch.
constexpr float c_fieldWidth = 14.0f;
constexpr float c_fieldHeight = 11.0f;

// Point on the arch's centre line for t in [0, 1] (left to right), and its direction.
void archPoint(float t, float& x, float& y, float& dx, float& dy) {
    x = -c_halfWidth + 2.0f * c_halfWidth * t;
    y = c_depth * (1.0f - (x / c_halfWidth) * (x / c_halfWidth));
    dx = 1.0f;
    dy = -2.0f * c_depth * x / (c_halfWidth * c_halfWidth);
    float length = std::sqrt(dx * dx + dy * dy);
    dx /= length;
    dy /= length;
}

// Distance of (x, y) from the arch's centre line and the arch parameter of the closest
// point, found by sampling (the arch is gentle, so a coarse search then a fine one works).
void nearestOnArch(float x, float y, float& distance, float& t) {
    float best = 1e30f;
    float bestT = 0.0f;
    for (int pass = 0; pass < 2; ++pass) {
        float from = pass == 0 ? 0.0f : std::max(0.0f, bestT - 0.02f);
        float to = pass == 0 ? 1.0f : std::min(1.0f, bestT + 0.02f);
        for (int i = 0; i <= 40; ++i) {
            float s = from + (to - from) * static_cast<float>(i) / 40.0f;
            float ax, ay, dx, dy;
            archPoint(s, ax, ay, dx, dy);
            float d = (x - ax) * (x - ax) + (y - ay) * (y - ay);
            if (d < best) {
                best = d;
                bestT = s;
            }
        }
    }
    distance = std::sqrt(best);
    t = bestT;
}

}  // namespace

SyntheticScanner::SyntheticScanner(uint32_t scans, float spacing, uint32_t seed)
    : m_scans(std::max<uint32_t>(scans, 1)), m_spacing(spacing), m_random(seed) {}

float SyntheticScanner::Height(float x, float y) {
    float distance = 0.0f;
    float t = 0.0f;
    nearestOnArch(x, y, distance, t);
    // Gingiva: a rounded ridge 12 mm wide along the arch.
    float gingiva = 4.0f * std::exp(-(distance * distance) / (2.0f * 4.0f * 4.0f));
    // Crowns: one rounded bump per tooth, molars wider and lower than incisors.
    float position = t * static_cast<float>(c_teeth);
    float tooth = std::floor(position);
    float local = (position - tooth - 0.5f) * 2.0f;  // -1 .. 1 within the tooth
    float fromMiddle = std::fabs(t - 0.5f) * 2.0f;   // 0 at the incisors, 1 at the molars
    float width = 0.8f + 0.2f * fromMiddle;
    float crownHeight = 7.0f - 2.0f * fromMiddle;
    float across = distance / (3.0f + 2.5f * fromMiddle);
    float r2 = (local / width) * (local / width) + across * across;
    float crown = r2 < 1.0f ? crownHeight * std::pow(1.0f - r2, 0.35f) : 0.0f;
    // Cusps: small waves on the molars' chewing surface.
    float cusps =
        crown > 0.0f ? 0.4f * fromMiddle * std::cos(6.0f * local) * std::cos(4.0f * across) : 0.0f;
    return std::max(gingiva, 2.0f + crown + cusps);
}

CbMatrix4Rd SyntheticScanner::poseAt(float t) {
    float x, y, dx, dy;
    archPoint(t, x, y, dx, dy);
    std::normal_distribution<double> jitter(0.0, 0.3);
    // Scanner axes in the session frame: x along the arch, y across it, z up (it looks
    // down its -z axis); rows of a row-vector rotation are the images of the axes.
    double angle = std::atan2(dy, dx) + 0.05 * jitter(m_random);
    double c = std::cos(angle), s = std::sin(angle);
    CbMatrix4Rd pose(std::array<double, 16>{c, s, 0, 0,   //
                                            -s, c, 0, 0,  //
                                            0, 0, 1, 0,   //
                                            x + jitter(m_random), y + jitter(m_random),
                                            18.0 + jitter(m_random), 1});
    return pose;
}

SyntheticScanner::Scan SyntheticScanner::TakeScan(uint32_t index) {
    const float t =
        m_scans == 1 ? 0.5f : static_cast<float>(index) / static_cast<float>(m_scans - 1);
    Scan scan;
    scan.pose = poseAt(t);
    CbMatrix4Rd toScanner = scan.pose;
    double determinant = 0.0;
    CbMatrixInternal::Invert(toScanner, determinant);

    const int columns = static_cast<int>(c_fieldWidth / m_spacing);
    const int rows = static_cast<int>(c_fieldHeight / m_spacing);
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    collection->Reserve(static_cast<uint32_t>(columns * rows));
    std::normal_distribution<float> noise(0.0f, 0.01f);
    const CbVector3f up = scan.pose.TransformVector({0.0f, 0.0f, 1.0f});
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            // A ray straight down the scanner's -z axis through this pixel.
            CbVector3f pixel{(static_cast<float>(column) + 0.5f) * m_spacing - c_fieldWidth / 2,
                             (static_cast<float>(row) + 0.5f) * m_spacing - c_fieldHeight / 2,
                             0.0f};
            CbVector3f world = scan.pose.TransformPoint(pixel);
            float z = Height(world.x, world.y);
            const float h = 0.05f;
            float gx = (Height(world.x + h, world.y) - Height(world.x - h, world.y)) / (2 * h);
            float gy = (Height(world.x, world.y + h) - Height(world.x, world.y - h)) / (2 * h);
            CbVector3f normal = CbVector3f(-gx, -gy, 1.0f).Normalized();
            KaCSurfel surfel;
            surfel.position = toScanner.TransformPoint({world.x, world.y, z + noise(m_random)});
            surfel.normal = toScanner.TransformVector(normal).Normalized();
            bool isTooth = z > 4.2f;
            surfel.color =
                isTooth ? KaCCompressedColor{236, 230, 214} : KaCCompressedColor{205, 110, 120};
            surfel.tissueType = isTooth ? 1 : 2;
            surfel.curvature =
                static_cast<uint8_t>(std::min(255.0f, 40.0f * std::sqrt(gx * gx + gy * gy)));
            surfel.quality = std::max(0.05f, normal.Dot(up));
            surfel.boundary = row == 0 || column == 0 || row == rows - 1 || column == columns - 1;
            collection->AddSurfel(surfel);
        }
    }
    scan.model = CCT_DepthImage::Create(collection, true);
    scan.model->SetAcquireSequenceNumber(index + 1);
    scan.model->SetFilename(L"scan_" + std::to_wstring(index + 1));
    return scan;
}
