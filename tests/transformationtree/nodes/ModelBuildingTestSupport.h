#pragma once

// Helpers of the model-building tests: models from given surfels, surfels read back,
// transformations applied in double precision (independently of the library's float
// arithmetic), exact rigid motions for tests that must know cell boundaries exactly, and the
// mean positions of the brute-force grid's cells (see granarytest::OccupiedCells).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbException.h"
#include "tests/granary/GranaryTestSupport.h"
#include "transformationtree/nodes/KaCTransformationNode.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"

namespace modelbuildingtest {

inline CbSmartPointer<KaCModelCCT> ModelOf(
    const std::vector<KaCSurfel>& surfels,
    KaCSurfelContainer::ESurfelAttributeSet set = KaCSurfelContainer::eSurfelAttributeSetFull) {
    auto collection = CbMakeShared<KaCSurfelCollectionCCT>(set);
    for (const KaCSurfel& surfel : surfels) {
        collection->AddSurfel(surfel);
    }
    return KaCModelCCT::Create(collection, true);
}

using granarytest::Cell;
using granarytest::OccupiedCells;
using granarytest::SurfelsOf;

inline std::vector<KaCSurfel> SurfelsOf(const CbSmartPointer<const KaCModelCCT>& model) {
    return SurfelsOf(*model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
}

// A × B over the 16 stored values, in double, written out here.
inline CbMatrix4Rd Product(const CbMatrix4Rd& a, const CbMatrix4Rd& b) {
    CbMatrix4Rd c = CbMatrix4Rd::Zero();
    for (int r = 0; r < 4; ++r) {
        for (int col = 0; col < 4; ++col) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += a(r, k) * b(k, col);
            }
            c(r, col) = sum;
        }
    }
    return c;
}

inline CbMatrix4Rd ToDouble(const CbMatrix4Rf& m) {
    CbMatrix4Rd d;
    for (size_t i = 0; i < 16; ++i) {
        d[i] = m[i];
    }
    return d;
}

// p × M in double for a row vector with w (1 for points, 0 for directions).
inline std::array<double, 3> Apply(const CbMatrix4Rd& m, const CbVector3f& p, double w) {
    std::array<double, 3> out{};
    for (int col = 0; col < 3; ++col) {
        out[col] = p.x * m(0, col) + p.y * m(1, col) + p.z * m(2, col) + w * m(3, col);
    }
    return out;
}

inline double AngleDegrees(const std::array<double, 3>& a, const CbVector3f& b) {
    const double cx = a[1] * b.z - a[2] * b.y, cy = a[2] * b.x - a[0] * b.z,
                 cz = a[0] * b.y - a[1] * b.x;
    const double sine = std::sqrt(cx * cx + cy * cy + cz * cz);
    const double cosine = a[0] * b.x + a[1] * b.y + a[2] * b.z;
    return std::atan2(sine, cosine) * 180.0 / 3.14159265358979323846;
}

// A rigid motion that float represents exactly and applies without rounding to points
// with few significant bits: a quarter turn (or none) about one axis, then a shift by
// multiples of 1/4.
inline CbMatrix4Rd ExactRigid(std::mt19937& random) {
    std::uniform_int_distribution<int> axis(0, 2), turns(0, 3), quarters(-40, 40);
    const int a = axis(random), b = (a + 1) % 3, c = (a + 2) % 3;
    const int t = turns(random);
    const double cosine = t == 0 ? 1 : t == 2 ? -1 : 0, sine = t == 1 ? 1 : t == 3 ? -1 : 0;
    CbMatrix4Rd m = CbMatrix4Rd::Zero();
    m(a, a) = 1;
    m(b, b) = cosine;
    m(b, c) = sine;
    m(c, b) = -sine;
    m(c, c) = cosine;
    m(3, 0) = quarters(random) * 0.25;
    m(3, 1) = quarters(random) * 0.25;
    m(3, 2) = quarters(random) * 0.25;
    m(3, 3) = 1;
    return m;
}

// The mean position of a cell's surfels with weights quality^parameter (parameter 0: all 1),
// in double.
inline std::array<double, 3> MeanPosition(const Cell& cell, float parameter) {
    std::array<double, 3> sum{};
    double total = 0.0;
    for (const KaCSurfel& s : cell.surfels) {
        const double w = parameter == 0.0f
                             ? 1.0
                             : (s.quality > 0.0f ? std::pow(double{s.quality}, parameter) : 0.0);
        total += w;
        for (int a = 0; a < 3; ++a) {
            sum[a] += w * s.position[a];
        }
    }
    if (!(total > 0.0)) {
        return MeanPosition(cell, 0.0f);
    }
    for (double& value : sum) {
        value /= total;
    }
    return sum;
}

// Runs `call`, expecting a CbException whose message contains `part`.
template <class Call>
void ExpectRefused(Call&& call, const std::string& part) {
    try {
        call();
        ADD_FAILURE() << "no exception";
    } catch (const CbException& e) {
        EXPECT_NE(e.GetMessage().find(part), std::string::npos) << e.GetMessage();
    }
}

}  // namespace modelbuildingtest
