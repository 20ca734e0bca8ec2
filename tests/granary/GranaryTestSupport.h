#pragma once

// Helpers shared by the scan-data and model-building tests: random surfels, the brute-force
// reference of grid sampling, byte streams, and the checks that every reader meets on
// truncated and corrupted input.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaCSurfelContainer.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

namespace granarytest {

// The angle between two non-zero vectors, in double precision and accurate for small angles.
inline double AngleDegrees(const CbVector3f& a, const CbVector3f& b) {
    const double ax = a.x, ay = a.y, az = a.z, bx = b.x, by = b.y, bz = b.z;
    const double cx = ay * bz - az * by, cy = az * bx - ax * bz, cz = ax * by - ay * bx;
    const double sine = std::sqrt(cx * cx + cy * cy + cz * cz);
    const double cosine = ax * bx + ay * by + az * bz;
    return std::atan2(sine, cosine) * 180.0 / 3.14159265358979323846;
}

// A rotation about an oblique axis, then a shift (row vectors: p × M).
inline CbMatrix4Rf ObliqueMotion() {
    CbMatrix4Rf m = CbMatrix4Rf::Translation(3.5f, -12.25f, 40.0f);
    const float c = std::cos(0.9f), s = std::sin(0.9f);
    const float rows[3][3] = {
        {c, s * 0.6f, s * 0.8f}, {-s, c * 0.6f, c * 0.8f}, {0.0f, -0.8f, 0.6f}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            m(row, col) = rows[row][col];
        }
    }
    return m;
}

inline CbVector3f RandomUnitVector(std::mt19937& random) {
    std::normal_distribution<float> normal;
    CbVector3f v;
    do {
        v = {normal(random), normal(random), normal(random)};
    } while (v.Length() < 1e-3f);
    return v.Normalized();
}

inline KaCSurfel RandomSurfel(std::mt19937& random, float extent) {
    std::uniform_real_distribution<float> coordinate(-extent, extent);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<float> quality(0.0f, 2.0f);
    KaCSurfel s;
    s.position = {coordinate(random), coordinate(random), coordinate(random)};
    s.normal = RandomUnitVector(random);
    s.color = {static_cast<uint8_t>(byte(random)), static_cast<uint8_t>(byte(random)),
               static_cast<uint8_t>(byte(random))};
    s.curvature = static_cast<uint8_t>(byte(random));
    s.quality = byte(random) < 20 ? 0.0f : quality(random);  // quality 0 weighs nothing
    s.tissueType = static_cast<uint8_t>(byte(random) % 5);
    s.boundary = byte(random) < 40;
    return s;
}

// Fills a container (or collection) with `count` random surfels.
template <class Container>
void AddRandomSurfels(Container& container, uint32_t count, uint32_t seed, float extent = 20.0f) {
    std::mt19937 random(seed);
    for (uint32_t i = 0; i < count; ++i) {
        container.AddSurfel(RandomSurfel(random, extent));
    }
}

inline KaCSurfel SurfelAt(float x, float y, float z) {
    KaCSurfel s;
    s.position = {x, y, z};
    return s;
}

inline std::vector<KaCSurfel> SurfelsOf(const KaCSurfelContainer& container) {
    std::vector<KaCSurfel> surfels;
    for (uint32_t i = 0; i < container.GetNrSurfels(); ++i) {
        surfels.push_back(container.GetSurfel(i));
    }
    return surfels;
}

// The brute-force reference of grid sampling: the occupied cells of surfels (finite
// positions only), in the order of first occupation, each with its surfels. A cell is named
// by the double-precision floor of p / cellSize per axis, compared with every cell found so far.
struct Cell {
    std::array<double, 3> key;
    std::vector<KaCSurfel> surfels;
};

inline std::vector<Cell> OccupiedCells(const std::vector<KaCSurfel>& surfels, float cellSize) {
    std::vector<Cell> cells;
    for (const KaCSurfel& s : surfels) {
        const CbVector3f& p = s.position;
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            continue;
        }
        const std::array<double, 3> key = {std::floor(double{p.x} / cellSize),
                                           std::floor(double{p.y} / cellSize),
                                           std::floor(double{p.z} / cellSize)};
        auto cell =
            std::find_if(cells.begin(), cells.end(), [&](const Cell& c) { return c.key == key; });
        if (cell == cells.end()) {
            cells.push_back({key, {s}});
        } else {
            cell->surfels.push_back(s);
        }
    }
    return cells;
}

inline void ExpectSameSurfels(const KaCSurfelContainer& a, const KaCSurfelContainer& b) {
    ASSERT_EQ(a.GetAttributeSet(), b.GetAttributeSet());
    ASSERT_EQ(a.GetNrSurfels(), b.GetNrSurfels());
    for (uint32_t i = 0; i < a.GetNrSurfels(); ++i) {
        const KaCSurfel x = a.GetSurfel(i), y = b.GetSurfel(i);
        EXPECT_EQ(x.position, y.position);
        EXPECT_EQ(a.GetNormalAccessor()[i], b.GetNormalAccessor()[i]);
        EXPECT_TRUE(x.color == y.color && x.curvature == y.curvature && x.quality == y.quality &&
                    x.tissueType == y.tissueType && x.boundary == y.boundary)
            << "surfel " << i;
    }
}

inline std::vector<uint8_t> Written(const std::function<void(CbStreamWriteBinary&)>& write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    return stream.GetBuffer();
}

// Every proper prefix of a valid record must be refused with a CbException.
inline void ExpectTruncationsThrow(const std::vector<uint8_t>& bytes,
                                   const std::function<void(CbStreamReadBinary&)>& read) {
    for (size_t length = 0; length < bytes.size(); ++length) {
        CbStreamReadBinaryBuffer stream(bytes.data(), length);
        EXPECT_THROW(read(stream), CbException)
            << "prefix of " << length << " of " << bytes.size() << " bytes";
    }
}

// Corrupted records (random bytes overwritten in a valid one, and pure noise) may be read
// or refused with a CbException, nothing else; the sanitizer builds catch every bad access.
// Returns how many were refused.
inline int ExpectCorruptionHandled(const std::vector<uint8_t>& bytes,
                                   const std::function<void(CbStreamReadBinary&)>& read,
                                   uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    int refused = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<uint8_t> corrupt = bytes;
        if (trial % 4 == 3) {
            corrupt.assign(std::uniform_int_distribution<size_t>(0, 64)(random), 0);
            for (uint8_t& b : corrupt) {
                b = static_cast<uint8_t>(byte(random));
            }
        } else if (!corrupt.empty()) {
            std::uniform_int_distribution<size_t> where(0, corrupt.size() - 1);
            for (int flips = 1 + trial % 3; flips > 0; --flips) {
                corrupt[where(random)] = static_cast<uint8_t>(byte(random));
            }
        }
        CbStreamReadBinaryBuffer stream(corrupt.data(), corrupt.size());
        try {
            read(stream);
        } catch (const CbException&) {
            ++refused;
        } catch (...) {
            ADD_FAILURE() << "a corrupt record raised something other than CbException (trial "
                          << trial << ")";
        }
    }
    return refused;
}

}  // namespace granarytest
