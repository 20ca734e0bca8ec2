#include <benchmark/benchmark.h>

#include <unistd.h>

#include <bit>
#include <cstring>
#include <deque>
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

// The yardstick of the round trip: plain structs of a node's size (472 bytes), made in the
// same order and shape as BenchmarkTrees::MakeTree makes the tree, written in pre-order into
// a new buffer as records of the tree's average size (306 bytes, children named by random
// 16-byte IDs) and read back into new structs, the children found through an open-addressing
// table of the IDs. It does the memory work of a round trip and little else: how near the
// real one comes to it.
struct PlainNode {
    uint64_t id[2];
    uint64_t revisions[2];
    double trafo[16];
    PlainNode* father = nullptr;
    std::vector<PlainNode*> children;
    char rest[472 - 4 * sizeof(uint64_t) - 16 * sizeof(double) - sizeof(PlainNode*) -
              sizeof(std::vector<PlainNode*>)];
};
static_assert(sizeof(PlainNode) == 472);

constexpr size_t c_plainRecordBytes = 290;  // and 16 per child: 306 on average

uint64_t mixBits(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

std::vector<PlainNode*> makePlainTree(uint32_t nodes, uint32_t fanOut) {
    std::vector<PlainNode*> made;
    made.reserve(nodes);
    made.push_back(new PlainNode{});
    std::deque<PlainNode*> fathers{made.front()};
    while (made.size() < nodes && !fathers.empty()) {
        PlainNode* father = fathers.front();
        fathers.pop_front();
        for (uint32_t i = 0; i < fanOut && made.size() < nodes; ++i) {
            const uint64_t room = uint64_t{fathers.size()} * fanOut + (fanOut - i);
            auto* child = new PlainNode{};
            if (nodes - made.size() > room) {
                fathers.push_back(child);
            }
            child->father = father;
            father->children.push_back(child);
            made.push_back(child);
        }
    }
    for (size_t i = 0; i < made.size(); ++i) {
        made[i]->id[0] = mixBits(2 * i + 1);
        made[i]->id[1] = mixBits(2 * i + 2);
        std::memset(made[i]->rest, 1, sizeof(made[i]->rest));
    }
    return made;
}

void writePlainNode(const PlainNode& node, std::vector<uint8_t>& out) {
    uint8_t record[c_plainRecordBytes] = {};
    std::memcpy(record, node.id, 16);
    if (node.father != nullptr) {
        std::memcpy(record + 16, node.father->id, 16);
    }
    std::memcpy(record + 32, node.revisions, 16);
    std::memcpy(record + 48, node.trafo, 128);
    std::memcpy(record + 176, node.rest, c_plainRecordBytes - 180);
    const auto children = static_cast<uint32_t>(node.children.size());
    std::memcpy(record + c_plainRecordBytes - 4, &children, 4);
    out.insert(out.end(), record, record + c_plainRecordBytes);
    for (const PlainNode* child : node.children) {
        out.insert(out.end(), reinterpret_cast<const uint8_t*>(child->id),
                   reinterpret_cast<const uint8_t*>(child->id) + 16);
    }
}

std::vector<PlainNode*> readPlainNodes(const std::vector<uint8_t>& in, size_t count) {
    std::vector<PlainNode*> nodes;
    nodes.reserve(count);
    std::vector<std::pair<uint64_t, PlainNode*>> table(std::bit_ceil(2 * count));
    const size_t mask = table.size() - 1;
    std::vector<size_t> childOffsets;
    childOffsets.reserve(count);
    size_t at = 0;
    while (at < in.size()) {
        auto* node = new PlainNode{};
        const uint8_t* record = in.data() + at;
        std::memcpy(node->id, record, 16);
        std::memcpy(node->revisions, record + 32, 16);
        std::memcpy(node->trafo, record + 48, 128);
        std::memcpy(node->rest, record + 176, c_plainRecordBytes - 180);
        uint32_t children = 0;
        std::memcpy(&children, record + c_plainRecordBytes - 4, 4);
        size_t slot = node->id[0] & mask;
        while (table[slot].second != nullptr) {
            slot = (slot + 1) & mask;
        }
        table[slot] = {node->id[0], node};
        nodes.push_back(node);
        childOffsets.push_back(at + c_plainRecordBytes);
        at += c_plainRecordBytes + 16 * size_t{children};
    }
    // The children by ID, once every node is known (as references are resolved).
    for (size_t i = 0; i < nodes.size(); ++i) {
        PlainNode* node = nodes[i];
        uint32_t children = 0;
        std::memcpy(&children, in.data() + childOffsets[i] - 4, 4);
        node->children.reserve(children);
        for (uint32_t c = 0; c < children; ++c) {
            uint64_t id = 0;
            std::memcpy(&id, in.data() + childOffsets[i] + 16 * size_t{c}, 8);
            size_t slot = id & mask;
            while (table[slot].first != id) {
                slot = (slot + 1) & mask;
            }
            PlainNode* child = table[slot].second;
            child->father = node;
            node->children.push_back(child);
        }
    }
    return nodes;
}

void BM_WriteReadPlainNodes(benchmark::State& state) {
    const auto count = static_cast<uint32_t>(state.range(0));
    std::vector<PlainNode*> tree = makePlainTree(count, 10);
    for (auto _ : state) {
        std::vector<uint8_t> written;
        written.reserve(size_t{count} * (c_plainRecordBytes + 16));
        std::vector<const PlainNode*> stack{tree.front()};
        while (!stack.empty()) {
            const PlainNode* node = stack.back();
            stack.pop_back();
            writePlainNode(*node, written);
            for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) {
                stack.push_back(*it);
            }
        }
        std::vector<PlainNode*> read = readPlainNodes(written, count);
        benchmark::DoNotOptimize(read.data());
        state.PauseTiming();
        for (PlainNode* node : read) {
            delete node;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * count));
    for (PlainNode* node : tree) {
        delete node;
    }
}
BENCHMARK(BM_WriteReadPlainNodes)
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

void removeUntimed(benchmark::State& state, const std::filesystem::path& path) {
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
}

// Writing the session to a file, up to the point where the file would be synced to disk:
// encoding, checksums, and handing the bytes to the operating system, as KaCSessionFile::Write
// does it (streamed in chunks).
//
// Each iteration writes a new file, as saving does (a temporary file renamed over the old
// session once synced). The previous iteration's file is removed outside the timed region:
// ext4 starts writing a file back when it is closed after being truncated and rewritten, and
// truncating it again at once waits for that write-back (about 20 ms for this file on the
// machines we measure on), which is the disk's time, not the writer's.
void BM_WriteSession(benchmark::State& state) {
    auto root = makeSession();
    const std::filesystem::path path = sessionPath();
    uint64_t bytes = 0;
    for (auto _ : state) {
        removeUntimed(state, path);
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
        removeUntimed(state, path);
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
