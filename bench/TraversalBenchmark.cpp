#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench/BenchmarkTrees.h"

namespace {

constexpr uint32_t c_fanOut = 10;

// One tree at a time, built outside every timed region and kept while consecutive
// benchmarks ask for the same size (the benchmarks are registered size by size).
CbSmartPointer<KaCTransformationNodeInner> treeOf(uint32_t nodes, uint32_t surfelsPerLeaf = 4) {
    static CbSmartPointer<KaCTransformationNodeInner> tree;
    static uint32_t size = 0;
    static uint32_t surfels = 0;
    if (!tree || size != nodes || surfels != surfelsPerLeaf) {
        tree = nullptr;
        BenchmarkTrees::ReleaseAll();
        tree = BenchmarkTrees::MakeTree(nodes, c_fanOut, surfelsPerLeaf);
        size = nodes;
        surfels = surfelsPerLeaf;
    }
    return tree;
}

// Some node a few levels down, whose transformation the "after a change" benchmarks set.
CbSmartPointer<KaCTransformationNode> someInnerNode(KaCTransformationNodeInner& root) {
    CbSmartPointer<KaCTransformationNode> node = root.BackChild();
    while (!node->IsLeaf() && static_cast<KaCTransformationNodeInner&>(*node).GetNrChildren() > 0) {
        node = static_cast<KaCTransformationNodeInner&>(*node).FrontChild();
        if (!node->IsLeaf() &&
            static_cast<KaCTransformationNodeInner&>(*node).FrontChild()->IsLeaf()) {
            break;
        }
    }
    return node;
}

uint64_t walkNodes(KaCTransformationNodeInner& root) {
    uint64_t visited = 0;
    for (auto it = root.BeginNode(); it; ++it) {
        benchmark::DoNotOptimize(it.GetCurrentTrafo());
        ++visited;
    }
    return visited;
}

// The full pre-order walk with accumulated transformations (warm: the tree is unchanged
// between walks).
void BM_NodeWalk(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    walkNodes(*root);  // a walk before the timed ones, as a program would have done
    uint64_t visited = 0;
    for (auto _ : state) {
        visited += walkNodes(*root);
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
}

// The first walk after a change of one transformation (the change itself is not timed).
void BM_NodeWalkAfterChange(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    CbSmartPointer<KaCTransformationNode> changed = someInnerNode(*root);
    CbMatrix4Rd trafo = changed->GetRelativeTrafo();
    uint64_t visited = 0;
    for (auto _ : state) {
        state.PauseTiming();
        changed->SetRelativeTrafo(trafo);
        state.ResumeTiming();
        visited += walkNodes(*root);
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
}

void BM_NodeWalkWithValues(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    walkNodes(*root);
    uint64_t visited = 0;
    for (auto _ : state) {
        for (auto it = root->BeginNode(); it; ++it) {
            KaCTransformationNodeWithTrafo value = *it;  // builds the inverse father trafo
            benchmark::DoNotOptimize(value);
            ++visited;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
}

void BM_LeafWalk(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    walkNodes(*root);
    uint64_t visited = 0;
    for (auto _ : state) {
        for (auto it = root->BeginLeaf(); it; ++it) {
            benchmark::DoNotOptimize(it.GetCurrentTrafo());
            ++visited;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(visited));
}

// Building the random-access snapshot of every leaf's model and transformation.
void BM_GetRas(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    uint64_t leaves = root->GetNrLeafNodes();
    for (auto _ : state) {
        auto ras = root->GetRas();
        benchmark::DoNotOptimize(ras.GetNrOfOverallSurfels());
    }
    state.SetItemsProcessed(static_cast<int64_t>(leaves * state.iterations()));
    state.counters["leaves"] = static_cast<double>(leaves);
}

// GetRas right after a change of one transformation (the change is not timed).
void BM_GetRasAfterChange(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    CbSmartPointer<KaCTransformationNode> changed = someInnerNode(*root);
    CbMatrix4Rd trafo = changed->GetRelativeTrafo();
    uint64_t leaves = root->GetNrLeafNodes();
    for (auto _ : state) {
        state.PauseTiming();
        changed->SetRelativeTrafo(trafo);
        state.ResumeTiming();
        auto ras = root->GetRas();
        benchmark::DoNotOptimize(ras.GetNrOfOverallSurfels());
    }
    state.SetItemsProcessed(static_cast<int64_t>(leaves * state.iterations()));
}

// The yardstick: the same tree's relative transformations and father indices in flat
// pre-order arrays, accumulated by one loop (what a walk over contiguous memory costs).
void BM_FlatPreorderArray(benchmark::State& state) {
    auto root = treeOf(static_cast<uint32_t>(state.range(0)));
    std::vector<CbMatrix4Rd> relative;
    std::vector<uint32_t> father;
    std::vector<uint32_t> open;  // the indices of the nodes on the current path
    for (auto it = root->BeginNode(); it; ++it) {
        uint32_t depth = static_cast<uint32_t>(it.GetPath().size());
        open.resize(depth);
        father.push_back(depth == 0 ? 0 : open[depth - 1]);
        relative.push_back(it.GetCurrentNode()->GetRelativeTrafo());
        open.push_back(static_cast<uint32_t>(relative.size() - 1));
    }
    std::vector<CbMatrix4Rd> accumulated(relative.size());
    for (auto _ : state) {
        accumulated[0] = c_matIdentityD;
        for (size_t i = 1; i < relative.size(); ++i) {
            accumulated[i] = relative[i] * accumulated[father[i]];
        }
        benchmark::DoNotOptimize(accumulated.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(relative.size() * state.iterations()));
}

// Size by size, so that each tree is built once.
#define TT_WALK_BENCHMARKS(nodes)                                                 \
    BENCHMARK(BM_FlatPreorderArray)->Arg(nodes)->Unit(benchmark::kMillisecond);   \
    BENCHMARK(BM_NodeWalk)->Arg(nodes)->Unit(benchmark::kMillisecond);            \
    BENCHMARK(BM_NodeWalkAfterChange)->Arg(nodes)->Unit(benchmark::kMillisecond); \
    BENCHMARK(BM_NodeWalkWithValues)->Arg(nodes)->Unit(benchmark::kMillisecond);  \
    BENCHMARK(BM_LeafWalk)->Arg(nodes)->Unit(benchmark::kMillisecond);            \
    BENCHMARK(BM_GetRas)->Arg(nodes)->Unit(benchmark::kMillisecond);              \
    BENCHMARK(BM_GetRasAfterChange)->Arg(nodes)->Unit(benchmark::kMillisecond)

TT_WALK_BENCHMARKS(10000);
TT_WALK_BENCHMARKS(100000);
TT_WALK_BENCHMARKS(1000000);

// Position queries at random overall numbers, and in increasing order (the cached image).
void BM_RandomAccessQueries(benchmark::State& state) {
    auto root = treeOf(10000, 100);
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
}
BENCHMARK(BM_RandomAccessQueries)->Arg(0)->Arg(1)->ArgName("random");

// A sampled walk: every 10th surfel of 1,000,000, position and normal of each sample.
void BM_SampledQueries(benchmark::State& state) {
    auto root = treeOf(10000, 111);
    uint64_t samples = 0;
    for (auto _ : state) {
        for (auto rss = root->BeginRss(10); rss; ++rss) {
            benchmark::DoNotOptimize(rss.GetPosition());
            benchmark::DoNotOptimize(rss.GetNormal());
            ++samples;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(samples));
}
BENCHMARK(BM_SampledQueries)->Unit(benchmark::kMillisecond);

}  // namespace
