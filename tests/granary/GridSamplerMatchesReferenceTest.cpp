#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/granary/KaCGridSampler.h"
#include "tests/granary/GranaryTestSupport.h"
#include "tests/granary/GridSamplerReference.h"

// The grid sampler against GridSamplerReference, the sampler as it was before its look-ups
// and sums were fetched ahead: every representative must come out with the same bits (positions,
// normal codes, colours, curvatures, qualities, tissue types, boundary flags) and in the
// same order, for any point order, cell size, parameter and attribute set.

namespace {

using Set = KaCSurfelContainer::ESurfelAttributeSet;

template <class T>
bool sameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// One input of the samplers: containers (added one after the other), each with its
// transformation (null: identity).
struct Input {
    std::vector<KaCSurfelContainer> containers;
    std::vector<CbMatrix4Rf> trafos;
    std::vector<bool> transformed;
    std::vector<CyBoundingSphere> spheres;
};

template <class Sampler>
KaCSurfelContainer subsample(Sampler& sampler, const Input& input, float parameter, Set set,
                             bool sortByCell) {
    for (size_t c = 0; c < input.containers.size(); ++c) {
        sampler.AddSurfels(input.containers[c], input.transformed[c] ? &input.trafos[c] : nullptr,
                           input.spheres);
    }
    KaCSurfelContainer target(set);
    target.Resize(sampler.GetNrOfUsedCells() + 1);
    EXPECT_EQ(sampler.GetSubsampled(target, parameter, set, sortByCell),
              sampler.GetNrOfUsedCells());
    target.Resize(sampler.GetNrOfUsedCells());
    return target;
}

// Both ways of summing (the parameter announced or not), both output orders, every
// attribute set the output can have; the results of the two samplers compared bit by bit.
void expectSameAsReference(const Input& input, float cellSize,
                           const std::vector<float>& parameters) {
    for (float parameter : parameters) {
        for (bool announced : {true, false}) {
            for (bool sortByCell : {false, true}) {
                for (Set set : {KaCSurfelContainer::eSurfelAttributeSetFull,
                                KaCSurfelContainer::eSurfelAttributeSetBasic}) {
                    SCOPED_TRACE(testing::Message()
                                 << "cell " << cellSize << ", parameter " << parameter
                                 << (announced ? ", announced" : ", kept") << ", sorted "
                                 << sortByCell << ", set " << set);
                    KaCGridSampler sampler =
                        announced ? KaCGridSampler(cellSize, parameter) : KaCGridSampler(cellSize);
                    GridSamplerReference reference = announced
                                                         ? GridSamplerReference(cellSize, parameter)
                                                         : GridSamplerReference(cellSize);
                    const KaCSurfelContainer got =
                        subsample(sampler, input, parameter, set, sortByCell);
                    const KaCSurfelContainer want =
                        subsample(reference, input, parameter, set, sortByCell);
                    ASSERT_EQ(sampler.GetNrOfUsedCells(), reference.GetNrOfUsedCells());
                    ASSERT_EQ(sampler.GetNrOfSurfels(), reference.GetNrOfSurfels());
                    ASSERT_EQ(got.GetNrSurfels(), want.GetNrSurfels());
                    size_t mismatches = 0;
                    for (uint32_t i = 0; i < got.GetNrSurfels() && mismatches < 5; ++i) {
                        const KaCSurfel a = got.GetSurfel(i), b = want.GetSurfel(i);
                        const bool same =
                            sameBits(a.position.x, b.position.x) &&
                            sameBits(a.position.y, b.position.y) &&
                            sameBits(a.position.z, b.position.z) &&
                            got.GetNormalAccessor()[i] == want.GetNormalAccessor()[i] &&
                            a.color == b.color && a.curvature == b.curvature &&
                            sameBits(a.quality, b.quality) && a.tissueType == b.tissueType &&
                            a.boundary == b.boundary;
                        if (!same) {
                            ++mismatches;
                            ADD_FAILURE()
                                << "representative " << i << " differs: position (" << a.position.x
                                << ", " << a.position.y << ", " << a.position.z << ") against ("
                                << b.position.x << ", " << b.position.y << ", " << b.position.z
                                << "), normal code " << got.GetNormalAccessor()[i].GetCode()
                                << " against " << want.GetNormalAccessor()[i].GetCode()
                                << ", colour " << int{a.color.r} << " " << int{a.color.g} << " "
                                << int{a.color.b} << " against " << int{b.color.r} << " "
                                << int{b.color.g} << " " << int{b.color.b} << ", curvature "
                                << int{a.curvature} << " against " << int{b.curvature}
                                << ", quality " << a.quality << " against " << b.quality;
                        }
                    }
                }
            }
        }
    }
}

// `count` surfels of the attribute set over a box of `extent`, positions from `position`.
template <class Position>
KaCSurfelContainer makeSurfels(Set set, uint32_t count, uint32_t seed, Position&& position) {
    std::mt19937 random(seed);
    KaCSurfelContainer container(set);
    for (uint32_t i = 0; i < count; ++i) {
        KaCSurfel s = granarytest::RandomSurfel(random, 1.0f);
        s.position = position(i, random);
        container.AddSurfel(s);
    }
    return container;
}

// A patch sampled in raster order, like a depth image: rows of `columns` surfels about
// `spacing` apart with a little jitter, offset by `origin`.
KaCSurfelContainer rasterPatch(Set set, uint32_t count, uint32_t columns, float spacing,
                               CbVector3f origin, uint32_t seed) {
    return makeSurfels(set, count, seed, [&](uint32_t i, std::mt19937& random) {
        std::uniform_real_distribution<float> jitter(-0.3f, 0.3f);
        const float row = static_cast<float>(i / columns), column = static_cast<float>(i % columns);
        return CbVector3f{origin.x + spacing * (column + jitter(random)),
                          origin.y + spacing * (row + jitter(random)),
                          origin.z + spacing * std::sin(0.05f * column) * 3.0f};
    });
}

KaCSurfelContainer shuffled(const KaCSurfelContainer& source, uint32_t seed) {
    std::vector<uint32_t> order(source.GetNrSurfels());
    for (uint32_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::mt19937 random(seed);
    std::shuffle(order.begin(), order.end(), random);
    KaCSurfelContainer copy(source.GetAttributeSet());
    for (uint32_t i : order) {
        copy.AddSurfel(source.GetSurfel(i));
    }
    return copy;
}

Input single(KaCSurfelContainer container) {
    Input input;
    input.containers.push_back(std::move(container));
    input.trafos.emplace_back();
    input.transformed.push_back(false);
    return input;
}

}  // namespace

TEST(GridSamplerMatchesReference, OnOverlappingScansInRasterAndRandomOrder) {
    // Three overlapping patches of 8,000 surfels, each with its own pose: many steps of work
    // per patch, cells shared between patches, in both orders, with and without colour and
    // quality.
    for (Set set :
         {KaCSurfelContainer::eSurfelAttributeSetFull, KaCSurfelContainer::eSurfelAttributeSetColor,
          KaCSurfelContainer::eSurfelAttributeSetBasic}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(testing::Message() << "set " << set << (random ? ", shuffled" : ""));
            Input input;
            for (uint32_t scan = 0; scan < 3; ++scan) {
                KaCSurfelContainer patch =
                    rasterPatch(set, 8000, 100, 0.05f, {2.0f * scan, -1.0f, 0.5f}, 7 + scan);
                input.containers.push_back(random ? shuffled(patch, 3 + scan) : patch);
                CbMatrix4Rf pose = granarytest::ObliqueMotion();
                pose(3, 0) += static_cast<float>(scan) * 0.01f;
                input.trafos.push_back(pose);
                input.transformed.push_back(scan != 1);
            }
            for (float cellSize : {0.03f, 0.1f, 0.37f}) {
                expectSameAsReference(input, cellSize, {1.0f, 0.0f});
            }
            expectSameAsReference(input, 0.1f, {2.0f, -1.5f, 7.0f});
        }
    }
}

TEST(GridSamplerMatchesReference, OnEdgeCases) {
    const Set full = KaCSurfelContainer::eSurfelAttributeSetFull;
    // Nothing, and one surfel.
    expectSameAsReference(single(KaCSurfelContainer(full)), 0.5f, {1.0f, 0.0f});
    expectSameAsReference(single(makeSurfels(full, 1, 3,
                                             [](uint32_t, std::mt19937&) {
                                                 return CbVector3f{-3.25f, 1e-3f, 7.0f};
                                             })),
                          0.5f, {1.0f, 0.0f, 9.0f});

    // Surfels on cell faces (whole multiples of the cell size, both signs), shuffled, many in
    // each cell, so that runs and sums of many surfels are compared.
    const KaCSurfelContainer faces =
        makeSurfels(full, 40000, 5, [](uint32_t, std::mt19937& random) {
            std::uniform_int_distribution<int> step(-40, 40);
            return CbVector3f{0.25f * static_cast<float>(step(random)),
                              0.25f * static_cast<float>(step(random)) - 1e6f * 0.0f,
                              -0.25f * static_cast<float>(step(random) % 3)};
        });
    expectSameAsReference(single(faces), 0.25f, {1.0f, 0.0f});
    expectSameAsReference(single(faces), 0.5f, {2.0f});

    // Negative coordinates far from the origin, and qualities of every kind (0, NaN,
    // infinite, negative), which make cells fall back to plain means.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    KaCSurfelContainer odd = makeSurfels(full, 20000, 9, [](uint32_t, std::mt19937& random) {
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        return CbVector3f{-5000.0f + u(random), -7000.0f + u(random), -20.0f + u(random)};
    });
    for (uint32_t i = 0; i < odd.GetNrSurfels(); ++i) {
        KaCSurfel s = odd.GetSurfel(i);
        const float qualities[] = {0.0f, nan, inf, -1.0f, s.quality};
        s.quality = qualities[(i * 7) % 23 < 5 ? (i * 7) % 23 : 4];
        odd.SetSurfel(i, s);
    }
    expectSameAsReference(single(odd), 0.05f, {1.0f, 0.0f, 2.0f});

    // Huge coordinates (beyond the packed key range, beyond 2^53 cells) and positions that
    // are not finite, after a few thousand ordinary surfels, so that keys change kind in the
    // middle of the work; and with spheres filtering.
    KaCSurfelContainer wild = makeSurfels(full, 9000, 11, [&](uint32_t i, std::mt19937& random) {
        std::uniform_real_distribution<float> u(-3.0f, 3.0f);
        if (i == 5000) {
            return CbVector3f{3e30f, -1e25f, 0.0f};
        }
        if (i % 997 == 3) {
            return CbVector3f{nan, 0.0f, inf};
        }
        if (i > 5000 && i % 13 == 0) {
            return CbVector3f{-3.4e38f, 1e20f * u(random), 2e9f};
        }
        return CbVector3f{u(random), u(random), u(random)};
    });
    expectSameAsReference(single(wild), 0.01f, {1.0f, 0.0f});
    Input filtered = single(shuffled(wild, 2));
    filtered.spheres = {{{0.0f, 0.0f, 0.0f}, 2.0f}, {{2.0f, 2.0f, 2.0f}, 1.0f}};
    expectSameAsReference(filtered, 0.02f, {1.0f});
}

TEST(GridSamplerMatchesReference, OnScansWithDifferentAttributesInTheSameCells) {
    // The sums of values a container lacks are left out for it: scans with colour and
    // quality (some qualities infinite, zero or NaN, so that weighted colour sums become
    // infinite or NaN), without quality, and without either, over the same cells in
    // turns, so that cells started by one kind of scan are continued by another. Cell
    // sizes from below the surfel spacing (runs of one surfel) to many surfels per cell
    // (runs far longer than any vector width), in raster and shuffled order.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Set sets[] = {
        KaCSurfelContainer::eSurfelAttributeSetFull, KaCSurfelContainer::eSurfelAttributeSetBasic,
        KaCSurfelContainer::eSurfelAttributeSetColor, KaCSurfelContainer::eSurfelAttributeSetBasic,
        KaCSurfelContainer::eSurfelAttributeSetFull};
    for (bool random : {false, true}) {
        SCOPED_TRACE(random ? "shuffled" : "raster");
        Input input;
        uint32_t scan = 0;
        for (Set set : sets) {
            KaCSurfelContainer patch =
                rasterPatch(set, 3000, 60, 0.02f, {0.003f * scan, -0.5f, 0.25f}, 21 + scan);
            if (set == KaCSurfelContainer::eSurfelAttributeSetFull) {
                for (uint32_t i = 0; i < patch.GetNrSurfels(); i += 17) {
                    KaCSurfel s = patch.GetSurfel(i);
                    const float odd[] = {inf, 0.0f, nan, -2.0f};
                    s.quality = odd[(i / 17) % 4];
                    patch.SetSurfel(i, s);
                }
            }
            input.containers.push_back(random ? shuffled(patch, 40 + scan) : patch);
            CbMatrix4Rf pose = granarytest::ObliqueMotion();
            pose(3, 1) += static_cast<float>(scan) * 0.004f;
            input.trafos.push_back(pose);
            input.transformed.push_back(scan % 2 == 0);
            ++scan;
        }
        for (float cellSize : {0.005f, 0.05f, 0.4f}) {
            expectSameAsReference(input, cellSize, {1.0f, 0.0f, 2.0f, -3.0f});
        }
    }
}
