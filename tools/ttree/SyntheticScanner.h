#pragma once

#include <cstdint>
#include <random>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/CCT_DepthImage.h"

// A virtual intra-oral scan session on a built-in dental arch: a parabolic arch (about
// 57 mm wide and 37 mm deep) of tooth-like crowns standing on gingiva, in millimetres. A
// scanner moves along the arch and takes depth-image scans: surfels with normals, colour
// and quality, in the scanner's frame, with the scanner's pose (scanner frame into session
// frame) and an increasing acquisition sequence number.
//
// Deterministic for a given seed. Not thread-safe: one scanner per thread.
class SyntheticScanner {
public:
    struct Scan {
        CbSmartPointer<CCT_DepthImage> model;  // surfels in the scanner's frame
        CbMatrix4Rd pose;                      // scanner frame -> session frame
    };

    // `scans` scans spread evenly along the arch, `spacing` millimetres between samples.
    SyntheticScanner(uint32_t scans, float spacing = 0.2f, uint32_t seed = 7);

    uint32_t GetNrScans() const { return m_scans; }
    // Scan `index` (0-based) of the session.
    Scan TakeScan(uint32_t index);

    // Height of the arch surface over the session's (x, y) plane; the surface is z = height.
    static float Height(float x, float y);

private:
    CbMatrix4Rd poseAt(float t);

    uint32_t m_scans;
    float m_spacing;
    std::mt19937 m_random;
};
