#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/granary/KaCGridSampler.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "tests/granary/GranaryTestSupport.h"

namespace {

using granarytest::Cell;
using granarytest::OccupiedCells;
using granarytest::SurfelsOf;

// The representative of a cell, computed from its surfels in double precision.
KaCSurfel representative(const Cell& cell, float parameter) {
    std::vector<double> w;
    double total = 0;
    for (const KaCSurfel& s : cell.surfels) {
        w.push_back(parameter == 0
                        ? 1.0
                        : (s.quality > 0 ? std::pow(double{s.quality}, double{parameter}) : 0.0));
        total += w.back();
    }
    if (!(total > 0) || !std::isfinite(total)) {
        w.assign(w.size(), 1.0);
        total = static_cast<double>(w.size());
    }
    double sums[9] = {};  // position, normal, colour
    double curvature = 0;
    KaCSurfel r = cell.surfels[0];
    for (size_t i = 0; i < w.size(); ++i) {
        const KaCSurfel& s = cell.surfels[i];
        const double values[9] = {s.position.x,
                                  s.position.y,
                                  s.position.z,
                                  s.normal.x,
                                  s.normal.y,
                                  s.normal.z,
                                  static_cast<double>(s.color.r),
                                  static_cast<double>(s.color.g),
                                  static_cast<double>(s.color.b)};
        for (int k = 0; k < 9; ++k) {
            sums[k] += w[i] * values[k];
        }
        curvature += w[i] * s.curvature;
        if (s.quality > r.quality) {
            r.quality = s.quality;
            r.tissueType = s.tissueType;
        }
        r.boundary = r.boundary || s.boundary;
    }
    auto mean = [&](int k) { return sums[k] / total; };
    auto byte = [](double v) { return static_cast<uint8_t>(std::nearbyint(v)); };
    r.position = {static_cast<float>(mean(0)), static_cast<float>(mean(1)),
                  static_cast<float>(mean(2))};
    const CbVector3f normal{static_cast<float>(sums[3]), static_cast<float>(sums[4]),
                            static_cast<float>(sums[5])};
    r.normal = normal.Length() > 1e-6f ? normal : r.normal;
    r.color = {byte(mean(6)), byte(mean(7)), byte(mean(8))};
    r.curvature = byte(curvature / total);
    return r;
}

void expectRepresents(const KaCSurfel& got, const KaCSurfel& want, bool withQuality) {
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(got.position[a], want.position[a],
                    1e-6 * std::max(1.0f, std::fabs(want.position[a])));
    }
    EXPECT_LE(granarytest::AngleDegrees(got.normal, want.normal),
              KaCQuantizedNormal::GetMaxAngularErrorDegrees());
    EXPECT_TRUE(
        std::abs(got.color.r - want.color.r) <= 1 && std::abs(got.color.g - want.color.g) <= 1 &&
        std::abs(got.color.b - want.color.b) <= 1 && std::abs(got.curvature - want.curvature) <= 1);
    EXPECT_EQ(got.quality, withQuality ? want.quality : 1.0f);
    EXPECT_EQ(got.tissueType, want.tissueType);
    EXPECT_EQ(got.boundary, want.boundary);
}

// Samples `container` and compares both output orders with the reference built from
// `expected`, the surfels the sampler should take, in the common frame.
// Both ways of summing are checked: a sampler told the parameter up front (which sums
// cells as surfels come in, for parameters in [-6, 6]) and one that keeps every surfel.
void expectMatchesBruteForce(const KaCSurfelContainer& container, float cellSize, float parameter,
                             const std::vector<KaCSurfel>& expected,
                             const CbMatrix4Rf* trafo = nullptr,
                             const std::vector<CyBoundingSphere>& spheres = {}) {
    for (bool announced : {false, true}) {
        SCOPED_TRACE(announced ? "parameter announced" : "surfels kept");
        KaCGridSampler sampler =
            announced ? KaCGridSampler(cellSize, parameter) : KaCGridSampler(cellSize);
        sampler.AddSurfels(container, trafo, spheres);
        std::vector<Cell> cells = OccupiedCells(expected, cellSize);
        ASSERT_EQ(sampler.GetNrOfUsedCells(), cells.size());
        EXPECT_EQ(sampler.GetNrOfSurfels(),
                  expected.size() -
                      std::count_if(expected.begin(), expected.end(), [](const KaCSurfel& s) {
                          return !std::isfinite(s.position.x) || !std::isfinite(s.position.y) ||
                                 !std::isfinite(s.position.z);
                      }));
        for (bool sortByCell : {false, true}) {
            if (sortByCell) {
                std::sort(cells.begin(), cells.end(),
                          [](const Cell& a, const Cell& b) { return a.key < b.key; });
            }
            KaCSurfelCollectionCCT target(sampler.GetNrOfUsedCells() + 2, false,
                                          container.GetAttributeSet(), nullptr);
            ASSERT_EQ(
                sampler.GetSubsampled(target, parameter, container.GetAttributeSet(), sortByCell),
                cells.size());
            for (size_t i = 0; i < cells.size(); ++i) {
                SCOPED_TRACE(testing::Message()
                             << "cell " << i << (sortByCell ? " ascending" : " by first use"));
                expectRepresents(target.GetSurfel(static_cast<uint32_t>(i)),
                                 representative(cells[i], parameter), container.HasQualityFlag());
            }
        }
    }
}

void expectMatchesBruteForce(const std::vector<CbVector3f>& positions, float cellSize,
                             float parameter) {
    KaCSurfelContainer container(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(container, static_cast<uint32_t>(positions.size()), 41);
    for (uint32_t i = 0; i < positions.size(); ++i) {
        KaCSurfel s = container.GetSurfel(i);
        s.position = positions[i];
        container.SetSurfel(i, s);
    }
    expectMatchesBruteForce(container, cellSize, parameter, SurfelsOf(container));
}

}  // namespace

TEST(GridSampler, MatchesBruteForceOnRandomCloudsForAnyParameter) {
    const float inf = std::numeric_limits<float>::infinity();
    // Parameters inside the summed range, the common ones that skip the power function,
    // and ones beyond it (where the sampler keeps the surfels instead), NaN and infinity
    // included: their weights are not finite, so cells fall back to plain means.
    const float parameters[] = {
        0.0f, 1.0f, 2.0f, 2.5f, -1.5f, 6.0f, 7.0f, -20.0f, std::numeric_limits<float>::quiet_NaN(),
        inf};
    std::mt19937 random(31);
    for (int round = 0; round < 20; ++round) {
        // Every attribute set; random qualities include zeros and infinities, so that some
        // cells fall back to the plain mean.
        KaCSurfelContainer container(
            static_cast<KaCSurfelContainer::ESurfelAttributeSet>(round % 3));
        for (int i = 0; i < 1 + round * 15; ++i) {
            KaCSurfel s = granarytest::RandomSurfel(random, 2.0f);
            for (int a = 0; a < 3 && i % 3 == 0; ++a) {
                s.position[a] =
                    std::floor(s.position[a] * 4.0f) / 4.0f;  // on the faces of half cells
            }
            if (i % 17 == 16) {
                s.quality = inf;
            }
            container.AddSurfel(s);
        }
        const float parameter = parameters[round % std::size(parameters)];
        SCOPED_TRACE(testing::Message() << "round " << round << ", parameter " << parameter);
        expectMatchesBruteForce(container, 0.5f, parameter, SurfelsOf(container));
    }
}

TEST(GridSampler, HandlesAnyExtentAndCellSize) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float limit = 9007199254740992.0f;  // 2^53
    const std::vector<CbVector3f> wild = {{1e30f, -1e30f, 0},
                                          {1e30f, -1e30f, 0},
                                          {1e30f, -1e30f, 0.01f},
                                          {-1e30f, 1e30f, 5},
                                          {3.4e38f, -3.4e38f, 1},
                                          {0.05f, 0.05f, 0.05f},
                                          {0.06f, 0.04f, 0},
                                          {-0.05f, 0, 0},
                                          {limit, 1, 1},
                                          {limit - 536870912.0f, 1, 1},
                                          {-limit, 1, 1},
                                          {1e-30f, -1e-30f, 2e-30f},
                                          {nan, 0, 0},
                                          {0, inf, 0},
                                          {-0.0f, 0, 0},
                                          {1e-38f, 0, 0}};
    for (float cellSize : {0.1f, 1.0f, 1e-30f, 1e-45f, 3e38f, 1e20f}) {
        SCOPED_TRACE(testing::Message() << "cell size " << cellSize);
        expectMatchesBruteForce(wild, cellSize, 1.0f);
    }
    // Tiny cells over a unit cloud: every distinct float is its own cell, duplicates share.
    std::mt19937 random(43);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<CbVector3f> dense;
    for (int i = 0; i < 150; ++i) {
        dense.push_back(i % 5 == 4 ? dense[i - 3]
                                   : CbVector3f{unit(random), unit(random), unit(random)});
    }
    expectMatchesBruteForce(dense, 1e-30f, 0.0f);
    expectMatchesBruteForce(dense, 1e-7f, 0.0f);
}

TEST(GridSampler, TransformsAndFiltersBySpheres) {
    KaCSurfelContainer container(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(container, 200, 51, 4.0f);
    // A quarter turn about z and a whole-number shift: exact in float, so the reference can
    // transform the surfels itself.
    const CbMatrix4Rf turn(std::array<float, 16>{0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 3, -2, 5, 1});
    const std::vector<CyBoundingSphere> spheres = {{{3, -2, 5}, 2.0f}, {{6, 1, 7}, 1.5f}};
    std::vector<KaCSurfel> all, inSpheres;
    for (KaCSurfel s : SurfelsOf(container)) {
        s.position = {3 - s.position.y, -2 + s.position.x, 5 + s.position.z};
        s.normal = {-s.normal.y, s.normal.x, s.normal.z};
        all.push_back(s);
        if (spheres[0].Contains(s.position) || spheres[1].Contains(s.position)) {
            inSpheres.push_back(s);
        }
    }
    ASSERT_GT(inSpheres.size(), 20u);
    ASSERT_LT(inSpheres.size(), 180u);
    expectMatchesBruteForce(container, 0.75f, 0.5f, inSpheres, &turn, spheres);
    expectMatchesBruteForce(container, 0.75f, 0.5f, all, &turn, {});
}

TEST(GridSampler, KeepsItsCellsWhenFarSurfelsComeLater) {
    // Near surfels first, then one beyond the range of packed keys (2^21 cells), then the
    // near cells again: in the same chunk of work, and with the far one hundreds of
    // surfels later; and with the far one first.
    std::vector<CbVector3f> near;
    std::mt19937 random(73);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 40; ++i) {
        // Away from the origin on every axis, so that the first cell is not cell (0, 0, 0).
        near.push_back({10.25f + unit(random), -6.5f + unit(random), 3.75f + unit(random)});
    }
    const CbVector3f far = {3000000.0f, -0.5f, 0.25f};
    std::vector<CbVector3f> inOneStep = near;
    inOneStep.push_back(far);
    inOneStep.insert(inOneStep.end(), near.begin(), near.end());
    expectMatchesBruteForce(inOneStep, 0.5f, 1.0f);

    std::vector<CbVector3f> later;
    for (int i = 0; i < 20; ++i) {
        later.insert(later.end(), near.begin(), near.end());
    }
    later.push_back(far);
    later.insert(later.end(), near.begin(), near.end());
    expectMatchesBruteForce(later, 0.5f, 0.0f);

    std::vector<CbVector3f> farFirst = {far, {-3.0e9f, 0.0f, 0.0f}};
    farFirst.insert(farFirst.end(), near.begin(), near.end());
    expectMatchesBruteForce(farFirst, 0.5f, 2.5f);
}

TEST(GridSampler, RefusesBadCellSizesTooSmallTargetsAndUnannouncedParameters) {
    for (float bad :
         {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
        EXPECT_THROW(KaCGridSampler{bad}, CbException) << bad;
    }

    KaCSurfelContainer container(KaCSurfelContainer::eSurfelAttributeSetFull);
    granarytest::AddRandomSurfels(container, 30, 79, 2.0f);
    KaCGridSampler kept(1.0f);
    kept.AddSurfels(container, nullptr);
    KaCSurfelContainer tooSmall(KaCSurfelContainer::eSurfelAttributeSetBasic);
    tooSmall.Resize(kept.GetNrOfUsedCells() - 1);
    EXPECT_THROW(
        kept.GetSubsampled(tooSmall, 0, KaCSurfelContainer::eSurfelAttributeSetBasic, false),
        CbException);

    // A sampler told its parameter sums for that one alone; 0 and -0 are the same parameter.
    KaCSurfelCollectionCCT target(30, false, KaCSurfelContainer::eSurfelAttributeSetFull, nullptr);
    for (float announced : {1.0f, 9.0f, std::numeric_limits<float>::quiet_NaN(), -0.0f}) {
        KaCGridSampler sampler(0.5f, announced);
        sampler.AddSurfels(container, nullptr);
        EXPECT_THROW(
            sampler.GetSubsampled(target, 2.0f, KaCSurfelContainer::eSurfelAttributeSetFull, false),
            CbException);
        const float asked = announced == 0.0f ? 0.0f : announced;
        EXPECT_EQ(sampler.GetSubsampled(target, asked, KaCSurfelContainer::eSurfelAttributeSetFull,
                                        false),
                  sampler.GetNrOfUsedCells());
    }
}

TEST(GridSampler, ClearingAndSizingAheadChangeNothingButMemory) {
    KaCSurfelContainer first(KaCSurfelContainer::eSurfelAttributeSetFull);
    KaCSurfelContainer second(KaCSurfelContainer::eSurfelAttributeSetColor);
    granarytest::AddRandomSurfels(first, 500, 83, 4.0f);
    granarytest::AddRandomSurfels(second, 700, 89, 4.0f);
    const CbMatrix4Rf shift = CbMatrix4Rf::Translation(1.0f, 2.0f, -3.0f);
    auto subsample = [&](KaCGridSampler& sampler) {
        sampler.AddSurfels(second, &shift);
        KaCSurfelContainer target(KaCSurfelContainer::eSurfelAttributeSetFull);
        target.Resize(sampler.GetNrOfUsedCells());
        sampler.GetSubsampled(target, 1.0f, KaCSurfelContainer::eSurfelAttributeSetFull, true);
        return target;
    };
    KaCGridSampler fresh(0.3f, 1.0f);
    const KaCSurfelContainer expected = subsample(fresh);

    KaCGridSampler reused(0.3f, 1.0f);
    reused.AddSurfels(first, nullptr);
    reused.AddSurfels(KaCSurfelContainer(), nullptr);  // nothing to add
    ASSERT_GT(reused.GetNrOfUsedCells(), 0u);
    reused.Clear();
    EXPECT_EQ(reused.GetNrOfUsedCells(), 0u);
    EXPECT_EQ(reused.GetNrOfSurfels(), 0u);
    granarytest::ExpectSameSurfels(subsample(reused), expected);

    KaCGridSampler sizedAhead(0.3f, 1.0f);
    sizedAhead.ExpectSurfels(1000000);
    granarytest::ExpectSameSurfels(subsample(sizedAhead), expected);

    // A copy sums on by itself.
    KaCGridSampler original(0.3f, 1.0f);
    original.AddSurfels(first, nullptr);
    KaCGridSampler copy = original;
    original.Clear();
    KaCGridSampler again(0.3f, 1.0f);
    again.AddSurfels(first, nullptr);
    granarytest::ExpectSameSurfels(subsample(copy), subsample(again));
}
