#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchmarkTrees.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryFile.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

constexpr uint32_t c_nodes = 100000;

// Writing and reading a whole tree of n nodes (nine in ten of them leaves sharing one small
// model) to and from memory. Each write goes into a new buffer, as a program's writes do.
void BM_WriteTree(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    auto root = BenchmarkTrees::MakeTree(nodes, 10, 4);
    uint64_t bytes = 0;
    for (auto _ : state) {
        CbStreamWriteBinaryBuffer stream;
        KaCTransformationTreeSerializer::Write(stream, root);
        bytes += stream.GetCount();
        state.PauseTiming();
        stream.Clear();  // freeing the buffer is not writing it
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodes));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteTree)
    ->Arg(10000)
    ->Arg(c_nodes)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same into one buffer that every iteration reuses: the record's own cost, without the
// first touch of fresh memory (which on a virtual machine can cost as much as the writing).
void BM_WriteTreeReusedBuffer(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    auto root = BenchmarkTrees::MakeTree(nodes, 10, 4);
    CbStreamWriteBinaryBuffer stream;
    KaCTransformationTreeSerializer::Write(stream, root);
    uint64_t bytes = 0;
    for (auto _ : state) {
        stream.Clear();
        KaCTransformationTreeSerializer::Write(stream, root);
        bytes += stream.GetCount();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodes));
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteTreeReusedBuffer)
    ->Arg(10000)
    ->Arg(c_nodes)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReadTree(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    CbStreamWriteBinaryBuffer written;
    KaCTransformationTreeSerializer::Write(written, BenchmarkTrees::MakeTree(nodes, 10, 4));
    BenchmarkTrees::ReleaseAll();
    for (auto _ : state) {
        CbStreamReadBinaryBuffer stream(written.GetData(), written.GetCount());
        auto root = KaCTransformationTreeSerializer::Read(stream, false);
        benchmark::DoNotOptimize(root.Get());
        state.PauseTiming();
        root = nullptr;  // releasing the tree is not reading it
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written.GetCount()));
}
BENCHMARK(BM_ReadTree)
    ->Arg(10000)
    ->Arg(c_nodes)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A whole tree written into a new buffer and read back: the round trip of saving and
// loading a tree, counted as one pass over its nodes.
void BM_WriteReadTree(benchmark::State& state) {
    const auto nodes = static_cast<uint32_t>(state.range(0));
    auto tree = BenchmarkTrees::MakeTree(nodes, 10, 4);
    for (auto _ : state) {
        CbStreamWriteBinaryBuffer written;
        KaCTransformationTreeSerializer::Write(written, tree);
        CbStreamReadBinaryBuffer stream(written.GetData(), written.GetCount());
        auto root = KaCTransformationTreeSerializer::Read(stream, false);
        benchmark::DoNotOptimize(root.Get());
        state.PauseTiming();
        root = nullptr;  // releasing the tree and the buffer is not the round trip
        written.Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nodes));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteReadTree)
    ->Arg(10000)
    ->Arg(c_nodes)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A session like one of a real scan: 100 scans of 16,500 surfels each (1.65 million surfels
// with every attribute), each scan a leaf with its own model below ten inner nodes.
CbSmartPointer<KaCTransformationNodeInner> makeSession() {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateInnerNode();
    for (uint32_t group = 0; group < 10; ++group) {
        auto inner = manager.CreateInnerNode();
        manager.AppendChild(root, inner, true);
        for (uint32_t scan = 0; scan < 10; ++scan) {
            auto leaf = manager.CreateLeafNode(BenchmarkTrees::MakeModel(16500, group * 10 + scan));
            leaf->SetDescription(L"scan " + std::to_wstring(group * 10 + scan));
            manager.AppendChild(inner, leaf, true);
        }
    }
    return root;
}

std::filesystem::path sessionPath() {
    return std::filesystem::temp_directory_path() /
           ("bench_persistence_" + std::to_string(::getpid()) + ".ttree");
}

// Writing the session to a file, up to the point where the file would be synced to disk:
// encoding, checksums, and handing the bytes to the operating system, as KaCSessionFile::Write
// does it (streamed in chunks).
void BM_WriteSession(benchmark::State& state) {
    auto root = makeSession();
    const std::filesystem::path path = sessionPath();
    uint64_t bytes = 0;
    for (auto _ : state) {
        CbStreamWriteBinaryFile file(path);
        bytes += KaCSessionFile::Write(file, root, {{L"name", L"bench"}});
        file.Close();
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteSession)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same by way of the whole file encoded in memory first (KaCSessionFile::Encode), as
// saving did before it streamed.
void BM_WriteSessionEncodedFirst(benchmark::State& state) {
    auto root = makeSession();
    const std::filesystem::path path = sessionPath();
    uint64_t bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> encoded = KaCSessionFile::Encode(root, {{L"name", L"bench"}});
        CbStreamWriteBinaryFile file(path);
        file.WriteBuffer(encoded.data(), encoded.size());
        file.Close();
        bytes += encoded.size();
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["MB"] = static_cast<double>(bytes) / state.iterations() / 1e6;
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_WriteSessionEncodedFirst)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reading the session from a file in the page cache: the bytes, every checksum, the tree
// and its 1.1 million surfels.
void BM_ReadSession(benchmark::State& state) {
    const std::filesystem::path path = sessionPath();
    const uint64_t size = KaCSessionFile::Write(path, makeSession());
    BenchmarkTrees::ReleaseAll();
    for (auto _ : state) {
        KaCSessionFile::Contents contents = KaCSessionFile::Read(path, false);
        benchmark::DoNotOptimize(contents.root.Get());
        state.PauseTiming();
        contents.root = nullptr;
        state.ResumeTiming();
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BM_ReadSession)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: copying as many bytes as the session file holds, between buffers that
// were touched before.
void BM_MemcpySessionSize(benchmark::State& state) {
    const std::vector<uint8_t> source = KaCSessionFile::Encode(makeSession(), {});
    BenchmarkTrees::ReleaseAll();
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_MemcpySessionSize)->Unit(benchmark::kMillisecond)->UseRealTime();

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
