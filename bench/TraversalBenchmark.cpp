#include <benchmark/benchmark.h>

#include <random>

#include "bench/BenchmarkTrees.h"

namespace {

constexpr uint32_t c_nodes = 100000;
constexpr uint32_t c_fanOut = 10;

// The full pre-order walk with accumulated transformations, and the leaf walk.
void BM_NodeWalk(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_nodes, c_fanOut, 4);
    uint64_t visited = 0;
    for (auto _ : state) {
        for (auto it = root->BeginNode(); it; ++it) {
            benchmark::DoNotOptimize(it.GetCurrentTrafo());
            ++visited;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_NodeWalk)->Unit(benchmark::kMillisecond);

void BM_NodeWalkWithValues(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_nodes, c_fanOut, 4);
    uint64_t visited = 0;
    for (auto _ : state) {
        for (auto it = root->BeginNode(); it; ++it) {
            KaCTransformationNodeWithTrafo value = *it;  // builds the inverse father trafo
            benchmark::DoNotOptimize(value);
            ++visited;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_NodeWalkWithValues)->Unit(benchmark::kMillisecond);

void BM_LeafWalk(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_nodes, c_fanOut, 4);
    uint64_t visited = 0;
    for (auto _ : state) {
        for (auto it = root->BeginLeaf(); it; ++it) {
            benchmark::DoNotOptimize(it.GetCurrentTrafo());
            ++visited;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_LeafWalk)->Unit(benchmark::kMillisecond);

// Building the random-access snapshot of every leaf's model and transformation.
void BM_GetRas(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_nodes, c_fanOut, 4);
    uint64_t leaves = root->GetNrLeafNodes();
    for (auto _ : state) {
        auto ras = root->GetRas();
        benchmark::DoNotOptimize(ras.GetNrOfOverallSurfels());
    }
    state.SetItemsProcessed(static_cast<int64_t>(leaves * state.iterations()));
    state.counters["leaves"] = static_cast<double>(leaves);
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_GetRas)->Unit(benchmark::kMillisecond);

// Position queries at random overall numbers, and in increasing order (the cached image).
void BM_RandomAccessQueries(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(10000, c_fanOut, 100);
    auto ras = root->GetRas();
    std::mt19937 random(3);
    std::vector<unsigned int> numbers(1 << 16);
    for (unsigned int& n : numbers) {
        n = state.range(0) != 0 ? random() % ras.GetNrOfOverallSurfels()
                                : static_cast<unsigned int>(&n - numbers.data());
    }
    size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ras.GetPosition(numbers[next]));
        next = (next + 1) & (numbers.size() - 1);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_RandomAccessQueries)->Arg(0)->Arg(1)->ArgName("random");

// A sampled walk: every 10th surfel of 1,000,000, position and normal of each sample.
void BM_SampledQueries(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(10000, c_fanOut, 111);
    uint64_t samples = 0;
    for (auto _ : state) {
        for (auto rss = root->BeginRss(10); rss; ++rss) {
            benchmark::DoNotOptimize(rss.GetPosition());
            benchmark::DoNotOptimize(rss.GetNormal());
            ++samples;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_SampledQueries)->Unit(benchmark::kMillisecond);

}  // namespace
