#include <benchmark/benchmark.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "bench/ModelBuildingData.h"
#include "platform/granary/KaCGridSampler.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/granary/KaCSurfelMemoryPool.h"

// The grid sampler on its own, beside a plain hash-map voxel loop on the same data in the
// same process.
//
// Data: scans of a jaw arch (bench/ModelBuildingData), 20,000 surfels each, all attributes,
// each with its own pose. Two orders of the same surfels: raster (as a depth image gives
// them: neighbours follow each other) and random (each scan's surfels shuffled; the scans
// still come one after the other). Sizes from 500,000 to 8,000,000 surfels put more scans on
// the same arch, so the number of cells grows more slowly than the number of surfels.
//
// The sampler runs as model building runs it: told the weight exponent (1, weights =
// quality) up front, sized from the total surfel count, every scan added with its pose, and
// the representatives written in first-occupation order into a target made once.
//
// The yardstick is the loop anyone would write first: transform each position by the pose,
// take floor(p / cell) per axis, pack the three into a 64-bit key, find or insert the key in
// an open-addressing table (linear probing, doubled at half load) whose slots hold the sums
// of x, y, z and a count, then write each cell's mean. It reads only positions and keeps
// only their sums: a floor for the sampler, which also turns normals and keeps weighted and
// plain sums of positions, normals, colours and curvatures and the quality rules.
//
// "Warm" runs reuse memory: the sampler is made anew per iteration (as model building makes
// one per call) but its arrays come back from the surfel memory pool, already mapped and
// touched; the yardstick keeps its table. "First" runs give the sampler memory as a fresh
// process would have it: the pool keeps nothing, so every array is newly mapped and each
// page is touched for the first time inside the timed region (large arrays on transparent
// huge pages, as the pool maps them).

namespace {

using ModelBuildingData::Scan;

enum EOrder { eRaster = 0, eRandom = 1 };

const char* orderName(int64_t order) {
    return order == eRaster ? "raster" : "random";
}

struct Data {
    std::vector<Scan> scans;  // owns the raster-order surfels
    std::vector<std::unique_ptr<KaCSurfelContainer>> shuffled;
    std::vector<const KaCSurfelContainer*> containers;
    std::vector<CbMatrix4Rf> poses;
    uint64_t surfels = 0;
};

const Data& data(int64_t surfels, int64_t order) {
    static std::map<std::pair<int64_t, int64_t>, std::unique_ptr<Data>> cache;
    auto& slot = cache[{surfels, order}];
    if (slot) {
        return *slot;
    }
    slot = std::make_unique<Data>();
    Data& d = *slot;
    constexpr uint32_t perScan = 20000;
    d.scans =
        ModelBuildingData::MakeArchScans(static_cast<uint32_t>(surfels / perScan), perScan, 2);
    std::mt19937 random(5);
    for (const Scan& scan : d.scans) {
        const KaCSurfelContainer* source =
            scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard).Get();
        if (order == eRandom) {
            std::vector<uint32_t> permutation(source->GetNrSurfels());
            for (uint32_t i = 0; i < permutation.size(); ++i) {
                permutation[i] = i;
            }
            std::shuffle(permutation.begin(), permutation.end(), random);
            auto copy = std::make_unique<KaCSurfelContainer>(source->GetAttributeSet());
            copy->Reserve(source->GetNrSurfels());
            for (uint32_t i : permutation) {
                copy->AddSurfel(source->GetSurfel(i));
            }
            source = copy.get();
            d.shuffled.push_back(std::move(copy));
        }
        d.containers.push_back(source);
        d.poses.emplace_back(scan.pose);
        d.surfels += source->GetNrSurfels();
    }
    return d;
}

// The yardstick's table and output, kept between iterations.
struct PlainVoxelLoop {
    struct Slot {
        uint64_t key;  // 0: free (keys are offset so that none is 0)
        double x, y, z;
        double count;
    };
    std::vector<Slot> slots;
    std::vector<float> means;
    size_t used = 0;

    // floor without a library call (the arch lies far inside the int64_t range).
    static int64_t floorOf(double q) {
        const auto whole = static_cast<int64_t>(q);
        return whole - (static_cast<double>(whole) > q ? 1 : 0);
    }

    // The highest bits of a multiplicative hash (the lowest ones ignore x and y).
    static uint64_t home(uint64_t key, size_t mask) {
        return (key * 0x9E3779B97F4A7C15ull) >> (64 - std::popcount(mask));
    }

    void grow() {
        std::vector<Slot> old(slots.size() * 2, Slot{0, 0, 0, 0, 0});
        old.swap(slots);
        const size_t mask = slots.size() - 1;
        for (const Slot& s : old) {
            if (s.key != 0) {
                size_t at = home(s.key, mask);
                while (slots[at].key != 0) {
                    at = (at + 1) & mask;
                }
                slots[at] = s;
            }
        }
    }

    size_t run(const Data& d, float cellSize) {
        if (slots.empty()) {
            slots.assign(4096, Slot{0, 0, 0, 0, 0});
        } else {
            std::fill(slots.begin(), slots.end(), Slot{0, 0, 0, 0, 0});
        }
        used = 0;
        const double cell = cellSize;
        constexpr int64_t bias = int64_t{1} << 20;  // keys of cells within 2^20 of 0
        for (size_t s = 0; s < d.containers.size(); ++s) {
            const auto* p =
                static_cast<const CbVector3f*>(d.containers[s]->GetPositionAccessor().GetData());
            const CbMatrix4Rf& m = d.poses[s];
            const uint32_t n = d.containers[s]->GetNrSurfels();
            for (uint32_t i = 0; i < n; ++i) {
                const float x = p[i].x * m(0, 0) + p[i].y * m(1, 0) + p[i].z * m(2, 0) + m(3, 0);
                const float y = p[i].x * m(0, 1) + p[i].y * m(1, 1) + p[i].z * m(2, 1) + m(3, 1);
                const float z = p[i].x * m(0, 2) + p[i].y * m(1, 2) + p[i].z * m(2, 2) + m(3, 2);
                const int64_t cx = floorOf(x / cell) + bias;
                const int64_t cy = floorOf(y / cell) + bias;
                const int64_t cz = floorOf(z / cell) + bias;
                const uint64_t key = (static_cast<uint64_t>(cx) << 42) |
                                     (static_cast<uint64_t>(cy) << 21) | static_cast<uint64_t>(cz);
                const size_t mask = slots.size() - 1;
                size_t at = home(key, mask);
                while (slots[at].key != key && slots[at].key != 0) {
                    at = (at + 1) & mask;
                }
                Slot& slot = slots[at];
                if (slot.key == 0) {
                    slot.key = key;
                    if (2 * ++used > slots.size()) {
                        grow();
                        at = home(key, slots.size() - 1);
                        while (slots[at].key != key) {
                            at = (at + 1) & (slots.size() - 1);
                        }
                    }
                }
                Slot& s2 = slots[at];
                s2.x += x;
                s2.y += y;
                s2.z += z;
                s2.count += 1.0;
            }
        }
        means.resize(3 * used);
        size_t out = 0;
        for (const Slot& s : slots) {
            if (s.key != 0) {
                means[out++] = static_cast<float>(s.x / s.count);
                means[out++] = static_cast<float>(s.y / s.count);
                means[out++] = static_cast<float>(s.z / s.count);
            }
        }
        return used;
    }
};

uint32_t runSampler(const Data& d, float cellSize, KaCSurfelContainer& target) {
    KaCGridSampler sampler(cellSize, 1.0f);
    sampler.ExpectSurfels(d.surfels);
    for (size_t s = 0; s < d.containers.size(); ++s) {
        sampler.AddSurfels(*d.containers[s], &d.poses[s]);
    }
    if (target.GetNrSurfels() < sampler.GetNrOfUsedCells()) {
        target.Resize(sampler.GetNrOfUsedCells());
    }
    return static_cast<uint32_t>(
        sampler.GetSubsampled(target, 1.0f, KaCSurfelContainer::eSurfelAttributeSetFull, false));
}

// Arguments: order, surfels, cell size in µm.
void BM_Yardstick(benchmark::State& state) {
    const Data& d = data(state.range(1), state.range(0));
    const float cellSize = static_cast<float>(state.range(2)) / 1000.0f;
    PlainVoxelLoop loop;
    size_t cells = 0;
    for (auto _ : state) {
        cells = loop.run(d, cellSize);
        benchmark::DoNotOptimize(loop.means.data());
    }
    state.SetLabel(orderName(state.range(0)));
    state.SetItemsProcessed(static_cast<int64_t>(d.surfels) * state.iterations());
    state.counters["cells"] = static_cast<double>(cells);
    state.counters["ns_per_surfel"] = benchmark::Counter(
        static_cast<double>(d.surfels),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Sampler(benchmark::State& state) {
    const Data& d = data(state.range(1), state.range(0));
    const float cellSize = static_cast<float>(state.range(2)) / 1000.0f;
    KaCSurfelContainer target(KaCSurfelContainer::eSurfelAttributeSetFull);
    uint32_t cells = runSampler(d, cellSize, target);  // sizes the target, warms the pool
    KaCSurfelMemoryPool& pool = KaCSurfelMemoryPool::GetInstance();
    const auto before = pool.GetStatistics();
    for (auto _ : state) {
        cells = runSampler(d, cellSize, target);
    }
    const auto after = pool.GetStatistics();
    state.counters["fresh_maps"] =
        static_cast<double>(after.mapped - before.mapped) / static_cast<double>(state.iterations());
    state.SetLabel(orderName(state.range(0)));
    state.SetItemsProcessed(static_cast<int64_t>(d.surfels) * state.iterations());
    state.counters["cells"] = cells;
    state.counters["ns_per_surfel"] = benchmark::Counter(
        static_cast<double>(d.surfels),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The sampler with memory as a fresh process has it (see the top).
void BM_SamplerFirst(benchmark::State& state) {
    const Data& d = data(state.range(1), state.range(0));
    const float cellSize = static_cast<float>(state.range(2)) / 1000.0f;
    KaCSurfelContainer target(KaCSurfelContainer::eSurfelAttributeSetFull);
    uint32_t cells = runSampler(d, cellSize, target);  // sizes the target only
    KaCSurfelMemoryPool& pool = KaCSurfelMemoryPool::GetInstance();
    pool.SetCapacity(0);
    const auto before = pool.GetStatistics();
    for (auto _ : state) {
        cells = runSampler(d, cellSize, target);
    }
    const auto after = pool.GetStatistics();
    pool.SetCapacity(KaCSurfelMemoryPool::ms_defaultCapacity);
    state.SetLabel(orderName(state.range(0)));
    state.SetItemsProcessed(static_cast<int64_t>(d.surfels) * state.iterations());
    state.counters["cells"] = cells;
    state.counters["fresh_maps"] =
        static_cast<double>(after.mapped - before.mapped) / static_cast<double>(state.iterations());
}

void orders(benchmark::internal::Benchmark* b) {
    b->ArgNames({"order", "surfels", "cell_um"});
    for (int64_t order : {eRaster, eRandom}) {
        b->Args({order, 1000000, 100});
        b->Args({order, 1000000, 300});
    }
    b->Unit(benchmark::kMillisecond);
}

void growth(benchmark::internal::Benchmark* b) {
    b->ArgNames({"order", "surfels", "cell_um"});
    for (int64_t surfels : {500000, 1000000, 2000000, 4000000, 8000000}) {
        b->Args({eRandom, surfels, 100});
    }
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Yardstick)->Apply(orders);
BENCHMARK(BM_Sampler)->Apply(orders);
BENCHMARK(BM_Yardstick)->Name("BM_YardstickGrowth")->Apply(growth);
BENCHMARK(BM_Sampler)->Name("BM_SamplerGrowth")->Apply(growth);
BENCHMARK(BM_SamplerFirst)
    ->ArgNames({"order", "surfels", "cell_um"})
    ->Args({eRandom, 1000000, 100})
    ->Args({eRandom, 8000000, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace
