#include <benchmark/benchmark.h>

#include "bench/BenchmarkTrees.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

constexpr uint32_t c_nodes = 100000;

// Writing and reading a whole tree of 100,000 nodes (90,000 leaves sharing one small
// model) to and from memory.
void BM_WriteTree(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_nodes, 10, 4);
    uint64_t bytes = 0;
    for (auto _ : state) {
        CbStreamWriteBinaryBuffer stream(64u << 20);
        KaCTransformationTreeSerializer::Write(stream, root);
        bytes += stream.GetCount();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_nodes));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteTree)->Unit(benchmark::kMillisecond);

void BM_ReadTree(benchmark::State& state) {
    CbStreamWriteBinaryBuffer written;
    KaCTransformationTreeSerializer::Write(written, BenchmarkTrees::MakeTree(c_nodes, 10, 4));
    BenchmarkTrees::ReleaseAll();
    for (auto _ : state) {
        CbStreamReadBinaryBuffer stream(written.GetData(), written.GetCount());
        auto root = KaCTransformationTreeSerializer::Read(stream, false);
        benchmark::DoNotOptimize(root.Get());
        state.PauseTiming();
        root = nullptr;  // releasing the tree is not reading it
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_nodes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written.GetCount()));
}
BENCHMARK(BM_ReadTree)->Unit(benchmark::kMillisecond);

// Flattening the leaves of a tree into a node vector, with both cached revisions.
void BM_NodeVectorOfLeaves(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(111112, 10, 4);  // 100,001 leaves
    uint64_t elements = 0;
    for (auto _ : state) {
        KaCNodeVector vector(root, KaCNodeVector::eLeafNodes, c_matIdentityD, 3);
        elements += vector.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(elements));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_NodeVectorOfLeaves)->Unit(benchmark::kMillisecond);

}  // namespace
