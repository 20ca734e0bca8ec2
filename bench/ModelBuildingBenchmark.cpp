#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench/BenchmarkTrees.h"
#include "bench/ModelBuildingData.h"
#include "platform/granary/KaCSurfelMemoryPool.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// Model building against its floor, on the same data in the same process: the merge path
// (50 scans of 80,000 surfels), the grid path (1,000,000 and 4,000,000 surfels of
// overlapping arch scans), and CreateModel bottom-up over a session-like tree. The floor is
// a plain loop that transforms the same positions and normals into preallocated arrays.
//
// Memory modes (argument "memory"): 0 the surfel memory pool as the library runs it (freed
// arrays are kept and reused, large ones on transparent huge pages); 1 fresh memory on huge
// pages (the pool keeps nothing); 2 fresh memory on 4 KiB pages (neither). The result of an
// iteration is released outside the timed region.

namespace {

using ModelBuildingData::Scan;

enum EMemory { ePooled = 0, eFreshHugePages = 1, eFreshSmallPages = 2 };

const char* memoryName(int64_t memory) {
    return memory == ePooled           ? "pooled"
           : memory == eFreshHugePages ? "fresh, huge pages"
                                       : "fresh, 4 KiB pages";
}

// Sets the pool up for a memory mode for the lifetime of one benchmark.
void useMemory(int64_t memory) {
    KaCSurfelMemoryPool& pool = KaCSurfelMemoryPool::GetInstance();
    pool.SetCapacity(memory == ePooled ? KaCSurfelMemoryPool::ms_defaultCapacity : 0);
    pool.SetHugePages(memory != eFreshSmallPages);
}

void restoreMemory() {
    useMemory(ePooled);
}

// AnonHugePages of this process, in KiB: whether the kernel gave huge pages at all.
double anonHugeKiB() {
    std::ifstream smaps("/proc/self/smaps_rollup");
    std::string line;
    while (std::getline(smaps, line)) {
        if (line.rfind("AnonHugePages:", 0) == 0) {
            return std::stod(line.substr(14));
        }
    }
    return -1;
}

void poolCounters(benchmark::State& state, const KaCSurfelMemoryPool::Statistics& before) {
    const auto after = KaCSurfelMemoryPool::GetInstance().GetStatistics();
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["fresh_maps"] = static_cast<double>(after.mapped - before.mapped) / iterations;
    state.counters["reused"] = static_cast<double>(after.reused - before.reused) / iterations;
    state.counters["huge_MiB"] = anonHugeKiB() / 1024.0;
}

const std::vector<Scan>& mergeScans() {
    static const std::vector<Scan> scans = ModelBuildingData::MakeArchScans(50, 80000, 1);
    return scans;
}

const std::vector<Scan>& archScans(int64_t surfels) {
    if (surfels == 4000000) {
        return mergeScans();
    }
    static const std::vector<Scan> scans = ModelBuildingData::MakeArchScans(50, 20000, 2);
    return scans;
}

void runFloor(benchmark::State& state, const std::vector<Scan>& scans) {
    ModelBuildingData::FloorData data = ModelBuildingData::MakeFloorData(scans);
    uint64_t surfels = 0;
    for (auto _ : state) {
        surfels += ModelBuildingData::RunFloor(data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(surfels));
}

void BM_MergeFloor(benchmark::State& state) {
    runFloor(state, mergeScans());
}
BENCHMARK(BM_MergeFloor)->Unit(benchmark::kMillisecond);

void BM_Merge(benchmark::State& state) {
    const KaCNodeVector nodes = ModelBuildingData::MakeNodeVector(mergeScans());
    useMemory(state.range(0));
    state.SetLabel(memoryName(state.range(0)));
    const auto before = KaCSurfelMemoryPool::GetInstance().GetStatistics();
    uint64_t surfels = 0;
    for (auto _ : state) {
        auto result = KaCTransformationNode::ComputeSubsampling(
            nodes, KaCModelCCT::eSurfelCollectionTypeStandard, 0.0f, 0.0f, nullptr);
        surfels += result->GetNrSurfels();
        state.PauseTiming();
        result = nullptr;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(surfels));
    poolCounters(state, before);
    restoreMemory();
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_Merge)->DenseRange(0, 2)->ArgName("memory")->Unit(benchmark::kMillisecond);

void BM_GridFloor(benchmark::State& state) {
    runFloor(state, archScans(state.range(0)));
}
BENCHMARK(BM_GridFloor)
    ->Arg(1000000)
    ->Arg(4000000)
    ->ArgName("surfels")
    ->Unit(benchmark::kMillisecond);

// Arguments: surfels, cell size in µm, weight exponent (the sampler parameter: 0 plain
// means, 1 means weighted by quality), memory mode.
void BM_Grid(benchmark::State& state) {
    const KaCNodeVector nodes = ModelBuildingData::MakeNodeVector(archScans(state.range(0)));
    const float cellSize = static_cast<float>(state.range(1)) / 1000.0f;
    const auto parameter = static_cast<float>(state.range(2));
    useMemory(state.range(3));
    state.SetLabel(memoryName(state.range(3)));
    const auto before = KaCSurfelMemoryPool::GetInstance().GetStatistics();
    uint32_t cells = 0;
    for (auto _ : state) {
        auto result = KaCTransformationNode::ComputeSubsampling(
            nodes, KaCModelCCT::eSurfelCollectionTypeStandard, cellSize, parameter, nullptr);
        cells = result->GetNrSurfels();
        state.PauseTiming();
        result = nullptr;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.range(0) * static_cast<int64_t>(state.iterations()));
    state.counters["cells"] = cells;
    poolCounters(state, before);
    restoreMemory();
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_Grid)
    ->ArgNames({"surfels", "cell_um", "exponent", "memory"})
    ->Args({1000000, 100, 1, ePooled})
    ->Args({1000000, 300, 1, ePooled})
    ->Args({1000000, 100, 0, ePooled})
    ->Args({1000000, 300, 0, ePooled})
    ->Args({4000000, 100, 1, ePooled})
    ->Args({4000000, 300, 1, ePooled})
    ->Args({1000000, 100, 1, eFreshHugePages})
    ->Args({1000000, 100, 1, eFreshSmallPages})
    ->Unit(benchmark::kMillisecond);

// Every inner node of a session-like tree (3 clusters of optimizer, collector and
// clipboard; each collector a normalised subtree of 48 scans of 20,000 surfels, at most 4
// children per node), built bottom-up, so that each build reads the models below it.
void BM_CreateModelBottomUp(benchmark::State& state) {
    auto root = ModelBuildingData::MakeSessionTree(3, 48, 4, 20000);
    const auto inner = ModelBuildingData::InnerNodesBottomUp(root);
    const float cellSize = static_cast<float>(state.range(0)) / 1000.0f;
    uint32_t rootSurfels = 0;
    for (auto _ : state) {
        for (const auto& node : inner) {
            node->CreateModel(false, cellSize, 1.0f);
        }
        state.PauseTiming();
        rootSurfels = root->GetModel()
                          ->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                          ->GetNrSurfels();
        for (const auto& node : inner) {
            node->DeleteModel();
        }
        state.ResumeTiming();
    }
    state.counters["inner_nodes"] = static_cast<double>(inner.size());
    state.counters["leaves"] = static_cast<double>(root->GetNrLeafNodes());
    state.counters["root_surfels"] = rootSurfels;
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_CreateModelBottomUp)
    ->Arg(100)
    ->Arg(300)
    ->ArgName("cell_um")
    ->Unit(benchmark::kMillisecond);

}  // namespace
