#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "platform/granary/KaCGridSampler.h"
#include "tests/granary/GranaryTestSupport.h"
#include "tests/granary/GridSamplerTestInputs.h"

// The grid sampler's parallel path against its one-thread path: the same cells, numbers,
// surfel counts and representatives bit for bit, for 2, 3 and 8 threads (more threads than
// cores, so that partitions outnumber the cores), on scans in raster and random order, every
// attribute set, parameters summed as surfels come in ([-6, 6]) and kept per surfel, both
// output orders, spheres, non-finite positions and qualities, keys that turn wide in the
// middle of a block, and empty input. Also run under ThreadSanitizer (label "threads").

using namespace gridsamplertest;

namespace {

const std::vector<uint32_t> c_threadCounts = {2, 3, 8};

// Samples `input` with `threads` threads (threshold 0: every container goes parallel),
// then writes the representatives in both orders and for both output sets.
struct Result {
    uint32_t cells = 0;
    uint64_t surfels = 0;
    uint64_t inParallel = 0;
    std::vector<KaCSurfelContainer> outputs;
};

Result sampleWith(const Input& input, float cellSize, float parameter, bool announced,
                  uint32_t threads) {
    KaCGridSampler sampler =
        announced ? KaCGridSampler(cellSize, parameter) : KaCGridSampler(cellSize);
    sampler.SetThreads(threads);
    sampler.SetParallelThreshold(0);
    for (size_t c = 0; c < input.containers.size(); ++c) {
        sampler.AddSurfels(input.containers[c], input.transformed[c] ? &input.trafos[c] : nullptr,
                           input.spheres);
    }
    Result result;
    result.cells = sampler.GetNrOfUsedCells();
    result.surfels = sampler.GetNrOfSurfels();
    result.inParallel = sampler.GetNrOfSurfelsTakenInParallel();
    for (bool sortByCell : {false, true}) {
        for (Set set : {KaCSurfelContainer::eSurfelAttributeSetFull,
                        KaCSurfelContainer::eSurfelAttributeSetBasic}) {
            KaCSurfelContainer target(set);
            target.Resize(result.cells);
            EXPECT_EQ(sampler.GetSubsampled(target, parameter, set, sortByCell), result.cells);
            result.outputs.push_back(std::move(target));
        }
    }
    return result;
}

// Each thread count against one thread, the parameter announced and not; `parallel`:
// whether the parallel path must have taken surfels (false where the input goes to wide
// keys before it can start).
void expectSameAsOneThread(const Input& input, float cellSize, const std::vector<float>& parameters,
                           bool parallel = true,
                           const std::vector<uint32_t>& threadCounts = c_threadCounts,
                           const std::vector<bool>& announcedOrNot = {true, false}) {
    for (float parameter : parameters) {
        for (bool announced : announcedOrNot) {
            const Result want = sampleWith(input, cellSize, parameter, announced, 1);
            EXPECT_EQ(want.inParallel, 0u);
            for (uint32_t threads : threadCounts) {
                SCOPED_TRACE(testing::Message()
                             << "cell " << cellSize << ", parameter " << parameter
                             << (announced ? ", announced" : ", kept") << ", threads " << threads);
                const Result got = sampleWith(input, cellSize, parameter, announced, threads);
                ASSERT_EQ(got.cells, want.cells);
                ASSERT_EQ(got.surfels, want.surfels);
                if (parallel) {
                    EXPECT_GT(got.inParallel, 0u);
                } else {
                    EXPECT_EQ(got.inParallel, 0u);
                }
                for (size_t o = 0; o < want.outputs.size(); ++o) {
                    SCOPED_TRACE(testing::Message() << "output " << o);
                    ExpectSameRepresentatives(got.outputs[o], want.outputs[o]);
                }
            }
        }
    }
}

// Three overlapping patches, each with its own pose (one without), in raster or random
// order: 20,000 surfels (two blocks), 50,000 (four blocks: every block buffer used more than
// once) and 5,000 (less than a block).
Input overlappingScans(Set set, bool random) {
    Input input;
    const uint32_t sizes[] = {20000, 50000, 5000};
    for (uint32_t scan = 0; scan < 3; ++scan) {
        KaCSurfelContainer patch =
            rasterPatch(set, sizes[scan], 160, 0.02f, {0.5f * scan, -1.0f, 0.5f}, 17 + scan);
        input.containers.push_back(random ? shuffled(patch, 5 + scan) : patch);
        CbMatrix4Rf pose = granarytest::ObliqueMotion();
        pose(3, 2) += static_cast<float>(scan) * 0.003f;
        input.trafos.push_back(pose);
        input.transformed.push_back(scan != 1);
    }
    return input;
}

}  // namespace

TEST(GridSamplerThreads, MatchOneThreadOnScansInRasterAndRandomOrder) {
    for (Set set :
         {KaCSurfelContainer::eSurfelAttributeSetFull, KaCSurfelContainer::eSurfelAttributeSetColor,
          KaCSurfelContainer::eSurfelAttributeSetBasic}) {
        for (bool random : {false, true}) {
            SCOPED_TRACE(testing::Message() << "set " << set << (random ? ", shuffled" : ""));
            const Input input = overlappingScans(set, random);
            if (set != KaCSurfelContainer::eSurfelAttributeSetFull) {
                // The sums a container lacks are left out: one summed and one kept parameter.
                expectSameAsOneThread(input, 0.05f, {1.0f, 7.0f}, true, {3}, {true});
                continue;
            }
            // Inside [-6, 6] (summed as they come), 0 (no weights) and outside (kept).
            expectSameAsOneThread(input, 0.05f, {1.0f, 0.0f, -1.5f, 7.0f});
            // Cells below the surfel spacing: runs of one surfel, most cells new.
            expectSameAsOneThread(input, 0.007f, {2.0f}, true, c_threadCounts, {true});
        }
    }
}

TEST(GridSamplerThreads, MatchOneThreadWhereTwoCellsAlternate) {
    // After 64 cells of 1 mm along x are occupied in order (two surfels each), every 256
    // surfels alternate
    // between two of them, drawn anew each time: each cell's sums then come in runs of one
    // surfel with the other cell's between, which a partition must keep apart. Made so
    // that the grouping shows: one quality everywhere (one inexact weight) and colours
    // alternating 100 and 101 within each cell, so that a cell with an even count has the
    // exact mean 100.5, and the rounding of its weighted sums decides which byte comes out.
    // Every thread count, parameters summed and kept.
    const Set full = KaCSurfelContainer::eSurfelAttributeSetFull;
    std::mt19937 pick(29);
    std::vector<uint32_t> cellOf(60000);
    uint32_t a = 0, b = 1;
    for (uint32_t i = 0; i < cellOf.size(); ++i) {
        if (i < 128) {
            cellOf[i] = i / 2;
            continue;
        }
        if ((i - 128) % 256 == 0) {
            a = pick() % 64;
            b = (a + 1 + pick() % 63) % 64;
        }
        cellOf[i] = i % 2 == 0 ? a : b;
    }
    KaCSurfelContainer alternating = makeSurfels(
        full, static_cast<uint32_t>(cellOf.size()), 31, [&](uint32_t i, std::mt19937& random) {
            std::uniform_real_distribution<float> u(0.01f, 0.99f);
            return CbVector3f{static_cast<float>(cellOf[i]) + u(random), u(random), u(random)};
        });
    std::vector<uint32_t> seen(64, 0);
    for (uint32_t i = 0; i < alternating.GetNrSurfels(); ++i) {
        KaCSurfel s = alternating.GetSurfel(i);
        s.quality = 0.7f;
        const auto value = static_cast<uint8_t>(100 + seen[cellOf[i]]++ % 2);
        s.color = KaCCompressedColor(value, value, value);
        s.curvature = value;
        alternating.SetSurfel(i, s);
    }
    expectSameAsOneThread(single(alternating), 1.0f, {2.0f, -1.5f, 9.0f});
}

TEST(GridSamplerThreads, MatchOneThreadOnEdgeCases) {
    const Set full = KaCSurfelContainer::eSurfelAttributeSetFull;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // Nothing at all.
    expectSameAsOneThread(single(KaCSurfelContainer(full)), 0.5f, {1.0f}, false);

    // Qualities of every kind (cells falling back to plain means) and positions that are
    // not finite, scattered through the blocks.
    KaCSurfelContainer odd = makeSurfels(full, 24000, 9, [&](uint32_t i, std::mt19937& random) {
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        if (i % 331 == 7) {
            return CbVector3f{nan, u(random), inf};
        }
        return CbVector3f{-500.0f + u(random), -700.0f + u(random), -20.0f + u(random)};
    });
    for (uint32_t i = 0; i < odd.GetNrSurfels(); ++i) {
        KaCSurfel s = odd.GetSurfel(i);
        const float qualities[] = {0.0f, nan, inf, -1.0f, s.quality};
        s.quality = qualities[(i * 7) % 23 < 5 ? (i * 7) % 23 : 4];
        odd.SetSurfel(i, s);
    }
    expectSameAsOneThread(single(odd), 0.05f, {1.0f, 9.0f});

    // Keys that turn wide in the middle of the second block: the steps before go parallel,
    // the rest goes on on one thread; and with spheres that take nothing from the first
    // thousands of surfels (the first cell, which fixes the packed origin, comes late).
    KaCSurfelContainer wild = makeSurfels(full, 30000, 11, [&](uint32_t i, std::mt19937& random) {
        std::uniform_real_distribution<float> u(-3.0f, 3.0f);
        if (i == 20000) {
            return CbVector3f{3e30f, -1e25f, 0.0f};
        }
        if (i % 997 == 3) {
            return CbVector3f{nan, 0.0f, inf};
        }
        if (i > 20000 && i % 13 == 0) {
            return CbVector3f{-3.4e38f, 1e20f * u(random), 2e9f};
        }
        if (i < 5000) {
            return CbVector3f{u(random) + 20.0f, u(random), u(random)};
        }
        return CbVector3f{u(random), u(random), u(random)};
    });
    expectSameAsOneThread(single(wild), 0.01f, {1.0f, 0.0f});
    Input filtered = single(wild);
    filtered.spheres = {{{0.0f, 0.0f, 0.0f}, 2.0f}, {{2.0f, 2.0f, 2.0f}, 1.0f}};
    expectSameAsOneThread(filtered, 0.02f, {1.0f, 8.0f});
    Input shuffledWild = single(shuffled(wild, 4));
    // Shuffled, a wide key comes within the first two steps: nothing goes parallel.
    expectSameAsOneThread(shuffledWild, 0.02f, {1.0f}, false);

    // Wide keys from the first surfel on: no parallel path at all, same result.
    KaCSurfelContainer far = makeSurfels(full, 20000, 13, [](uint32_t, std::mt19937& random) {
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        return CbVector3f{3e12f * u(random), 1e9f * u(random), u(random)};
    });
    expectSameAsOneThread(single(far), 0.001f, {1.0f}, false);
}

TEST(GridSamplerThreads, ThresholdsDecideWhichContainersGoParallel) {
    // Off by default: a new sampler keeps even a large container on one thread. With a
    // threshold, a container below it stays on one thread; one at it goes parallel after
    // its first step; and the process-wide default reaches samplers made after it is set.
    const Set full = KaCSurfelContainer::eSurfelAttributeSetFull;
    const uint32_t threshold = KaCGridSampler::ms_suggestedParallelThreshold;
    const KaCSurfelContainer small =
        rasterPatch(full, threshold - 1, 100, 0.01f, {0.0f, 0.0f, 0.0f}, 3);
    const KaCSurfelContainer large =
        rasterPatch(full, threshold, 100, 0.01f, {0.0f, 0.0f, 0.0f}, 3);
    ASSERT_EQ(KaCGridSampler::GetDefaultParallelThreshold(),
              KaCGridSampler::ms_defaultParallelThreshold);
    KaCGridSampler byDefault(0.05f, 1.0f);
    byDefault.SetThreads(2);
    byDefault.AddSurfels(large, nullptr);
    EXPECT_EQ(byDefault.GetNrOfSurfelsTakenInParallel(), 0u);
    EXPECT_EQ(byDefault.GetNrOfSurfels(), large.GetNrSurfels());

    KaCGridSampler sampler(0.05f, 1.0f);
    sampler.SetThreads(2);
    sampler.SetParallelThreshold(threshold);
    sampler.AddSurfels(small, nullptr);
    EXPECT_EQ(sampler.GetNrOfSurfelsTakenInParallel(), 0u);
    sampler.Clear();
    sampler.AddSurfels(large, nullptr);
    EXPECT_EQ(sampler.GetNrOfSurfelsTakenInParallel(), large.GetNrSurfels() - 256u);
    EXPECT_EQ(sampler.GetNrOfSurfels(), large.GetNrSurfels());

    KaCGridSampler::SetDefaultParallelThreshold(threshold);
    KaCGridSampler parallel(0.05f, 1.0f);
    KaCGridSampler::SetDefaultParallelThreshold(KaCGridSampler::ms_defaultParallelThreshold);
    EXPECT_EQ(parallel.GetParallelThreshold(), threshold);
    parallel.SetThreads(2);
    parallel.AddSurfels(large, nullptr);
    EXPECT_EQ(parallel.GetNrOfSurfelsTakenInParallel(), large.GetNrSurfels() - 256u);
}

TEST(GridSamplerThreads, SeveralSamplersAtOnce) {
    // Samplers on different threads, each with threads of its own, share nothing: each
    // gives what one thread gives.
    const Input input = overlappingScans(KaCSurfelContainer::eSurfelAttributeSetFull, true);
    const Result want = sampleWith(input, 0.05f, 1.0f, true, 1);
    std::vector<Result> got(3);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < got.size(); ++t) {
        threads.emplace_back([&, t] {
            got[t] = sampleWith(input, 0.05f, 1.0f, true, static_cast<uint32_t>(t + 2));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const Result& result : got) {
        ASSERT_EQ(result.cells, want.cells);
        EXPECT_GT(result.inParallel, 0u);
        for (size_t o = 0; o < want.outputs.size(); ++o) {
            ExpectSameRepresentatives(result.outputs[o], want.outputs[o]);
        }
    }
}
