#pragma once

// Inputs of the grid sampler and the bit-by-bit comparison of its outputs, shared by the
// tests that compare KaCGridSampler with GridSamplerReference and with itself on one thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "platform/granary/KaCSurfelContainer.h"
#include "platform/prism/CyBoundingSphere.h"
#include "tests/granary/GranaryTestSupport.h"

namespace gridsamplertest {

using Set = KaCSurfelContainer::ESurfelAttributeSet;

template <class T>
inline bool sameBits(const T& a, const T& b) {
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

// Fails (naming at most five of them) unless `got` and `want` hold the same representatives
// bit for bit, in the same order.
inline void ExpectSameRepresentatives(const KaCSurfelContainer& got,
                                      const KaCSurfelContainer& want) {
    ASSERT_EQ(got.GetNrSurfels(), want.GetNrSurfels());
    size_t mismatches = 0;
    for (uint32_t i = 0; i < got.GetNrSurfels() && mismatches < 5; ++i) {
        const KaCSurfel a = got.GetSurfel(i), b = want.GetSurfel(i);
        const bool same =
            sameBits(a.position.x, b.position.x) && sameBits(a.position.y, b.position.y) &&
            sameBits(a.position.z, b.position.z) &&
            got.GetNormalAccessor()[i] == want.GetNormalAccessor()[i] && a.color == b.color &&
            a.curvature == b.curvature && sameBits(a.quality, b.quality) &&
            a.tissueType == b.tissueType && a.boundary == b.boundary;
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << "representative " << i << " differs: position (" << a.position.x
                          << ", " << a.position.y << ", " << a.position.z << ") against ("
                          << b.position.x << ", " << b.position.y << ", " << b.position.z
                          << "), normal code " << got.GetNormalAccessor()[i].GetCode()
                          << " against " << want.GetNormalAccessor()[i].GetCode() << ", colour "
                          << int{a.color.r} << " " << int{a.color.g} << " " << int{a.color.b}
                          << " against " << int{b.color.r} << " " << int{b.color.g} << " "
                          << int{b.color.b} << ", curvature " << int{a.curvature} << " against "
                          << int{b.curvature} << ", quality " << a.quality << " against "
                          << b.quality;
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
inline KaCSurfelContainer rasterPatch(Set set, uint32_t count, uint32_t columns, float spacing,
                                      CbVector3f origin, uint32_t seed) {
    return makeSurfels(set, count, seed, [&](uint32_t i, std::mt19937& random) {
        std::uniform_real_distribution<float> jitter(-0.3f, 0.3f);
        const float row = static_cast<float>(i / columns), column = static_cast<float>(i % columns);
        return CbVector3f{origin.x + spacing * (column + jitter(random)),
                          origin.y + spacing * (row + jitter(random)),
                          origin.z + spacing * std::sin(0.05f * column) * 3.0f};
    });
}

inline KaCSurfelContainer shuffled(const KaCSurfelContainer& source, uint32_t seed) {
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

inline Input single(KaCSurfelContainer container) {
    Input input;
    input.containers.push_back(std::move(container));
    input.trafos.emplace_back();
    input.transformed.push_back(false);
    return input;
}

}  // namespace gridsamplertest
