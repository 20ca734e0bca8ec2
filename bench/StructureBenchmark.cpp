#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "bench/BenchmarkTrees.h"
#include "platform/tidewell/KaCDataManager.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"

// Operations whose cost depends on the shape of the tree: wide nodes (unmirroring, the
// consistency check) and large node vectors (sorting, cached subtree revisions).
namespace {

using Manager = KaCTransformationNodeManager;
using Inner = CbSmartPointer<KaCTransformationNodeInner>;

constexpr uint32_t c_wideChildren = 10000;
constexpr uint32_t c_vectorNodes = 100000;

// Binds the node manager to the application's data manager for one benchmark.
class Binding {
public:
    Binding() {
        KaCDataManager& data = KaCDataManager::GetInstance();
        if (!Manager::GetInstance().SetDataManager(data, data.GetRootNode())) {
            throw std::runtime_error("the node manager is bound to another data manager");
        }
    }
    ~Binding() {
        static_cast<void>(Manager::GetInstance().UnsetDataManager());
        BenchmarkTrees::ReleaseAll();
    }
};

// An inner node with `children` leaves that share one model.
Inner MakeWideNode(uint32_t children) {
    Manager& manager = Manager::GetInstance();
    CbSmartPointer<const KaCModelCCT> model = BenchmarkTrees::MakeModel(1, 1);
    Inner wide = manager.CreateInnerNode();
    wide->ReserveChildren(children);
    for (uint32_t i = 0; i < children; ++i) {
        manager.AppendChild(wide, manager.CreateLeafNode(model), true);
    }
    return wide;
}

// Taking a node with 10,000 children out of the data manager (RemoveChild of a mirrored
// node); putting it back is not timed.
void BM_UnmirrorWideNode(benchmark::State& state) {
    Binding binding;
    Manager& manager = Manager::GetInstance();
    Inner root = manager.CreateRootNode();
    Inner wide = MakeWideNode(c_wideChildren);
    Manager::WriteHandle access = manager.GetSingleWriteHandleLocked(root);
    for (auto _ : state) {
        state.PauseTiming();
        manager.AppendChild(root, wide, true);
        state.ResumeTiming();
        manager.RemoveChild(root, wide);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_wideChildren));
    manager.UnsetRootNode();
}
BENCHMARK(BM_UnmirrorWideNode)->Unit(benchmark::kMillisecond);

// Unsetting a root with 10,000 children: every node leaves the data manager and the ID map.
void BM_UnsetWideRoot(benchmark::State& state) {
    Binding binding;
    Manager& manager = Manager::GetInstance();
    for (auto _ : state) {
        state.PauseTiming();
        Inner root = MakeWideNode(c_wideChildren);
        manager.SetRootNode(root);
        Manager::WriteHandle access = manager.GetSingleWriteHandleLocked(root);
        state.ResumeTiming();
        manager.UnsetRootNode();
        state.PauseTiming();
        access = Manager::WriteHandle();
        root = nullptr;  // dropping the nodes is not unsetting them
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_wideChildren));
}
BENCHMARK(BM_UnsetWideRoot)->Unit(benchmark::kMillisecond);

// The consistency check of a mirrored node with 10,000 children, and of the whole manager
// holding that tree, under read access to the root.
void BM_IsValidWideNode(benchmark::State& state) {
    Binding binding;
    Manager& manager = Manager::GetInstance();
    Inner root = manager.CreateRootNode();
    Inner wide = MakeWideNode(c_wideChildren);
    {
        Manager::WriteHandle access = manager.GetSingleWriteHandleLocked(root);
        manager.AppendChild(root, wide, true);
    }
    Manager::ReadHandle access = manager.GetSingleReadHandleLocked(root);
    bool single = state.range(0) == 0;
    for (auto _ : state) {
        bool valid = single ? manager.IsValid(wide) : manager.IsValid();
        if (!valid) {
            state.SkipWithError("the tree is not valid");
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_wideChildren));
    access = Manager::ReadHandle();
    Manager::WriteHandle write = manager.GetSingleWriteHandleLocked(root);
    manager.UnsetRootNode();
}
BENCHMARK(BM_IsValidWideNode)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("wholeManager")
    ->Unit(benchmark::kMillisecond);

// 100,000 elements in acquisition order: scans with models whose sequence numbers are a
// random permutation, one in a hundred a node without model, and one in a thousand an
// element without node. Sorting a fresh copy of the shuffled vector each time.
void BM_SortBySequenceNumber(benchmark::State& state) {
    Manager& manager = Manager::GetInstance();
    std::mt19937 random(7);
    std::vector<uint64_t> numbers(c_vectorNodes);
    std::iota(numbers.begin(), numbers.end(), 0);
    std::shuffle(numbers.begin(), numbers.end(), random);
    KaCNodeVector shuffled;
    shuffled.reserve(c_vectorNodes);
    for (uint32_t i = 0; i < c_vectorNodes; ++i) {
        if (i % 1000 == 999) {
            shuffled.emplace_back();
        } else if (i % 100 == 7) {
            shuffled.AddNode(manager.CreateInnerNode(), c_matIdentityD);
        } else {
            CbSmartPointer<KaCModelCCT> model = BenchmarkTrees::MakeModel(1, i);
            model->SetAcquireSequenceNumber(numbers[i]);
            shuffled.AddNode(manager.CreateLeafNode(model), c_matIdentityD);
        }
    }
    for (auto _ : state) {
        state.PauseTiming();
        KaCNodeVector vector = shuffled;
        state.ResumeTiming();
        vector.SortBySequenceNumber();
        state.PauseTiming();
        vector = KaCNodeVector();  // releasing the copy is not sorting
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * c_vectorNodes));
    shuffled.clear();
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_SortBySequenceNumber)->Unit(benchmark::kMillisecond);

// A node vector of every node of a tree of 100,000 nodes (ten children per inner node),
// without cached revisions (argument 0) and with both (argument 3).
void BM_NodeVectorOfAllNodes(benchmark::State& state) {
    auto root = BenchmarkTrees::MakeTree(c_vectorNodes, 10, 4);
    const auto flags = static_cast<unsigned int>(state.range(0));
    uint64_t elements = 0;
    for (auto _ : state) {
        KaCNodeVector vector(root, KaCNodeVector::eAllNodes, c_matIdentityD, flags);
        elements += vector.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(elements));
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_NodeVectorOfAllNodes)->Arg(0)->Arg(3)->ArgName("flags")->Unit(benchmark::kMillisecond);

// The same for a deep tree: a chain of 5,000 inner nodes, each with one leaf beside the
// next inner node (10,000 nodes, depth 5,000).
void BM_NodeVectorOfDeepTree(benchmark::State& state) {
    Manager& manager = Manager::GetInstance();
    CbSmartPointer<const KaCModelCCT> model = BenchmarkTrees::MakeModel(1, 1);
    Inner root = manager.CreateInnerNode();
    Inner last = root;
    for (uint32_t depth = 1; depth < c_wideChildren / 2; ++depth) {
        manager.AppendChild(last, manager.CreateLeafNode(model), true);
        Inner next = manager.CreateInnerNode();
        manager.AppendChild(last, next, true);
        last = next;
    }
    manager.AppendChild(last, manager.CreateLeafNode(model), true);
    const auto flags = static_cast<unsigned int>(state.range(0));
    uint64_t elements = 0;
    for (auto _ : state) {
        KaCNodeVector vector(root, KaCNodeVector::eAllNodes, c_matIdentityD, flags);
        elements += vector.size();
    }
    state.SetItemsProcessed(static_cast<int64_t>(elements));
    last = nullptr;
    BenchmarkTrees::ReleaseAll();
}
BENCHMARK(BM_NodeVectorOfDeepTree)->Arg(0)->Arg(3)->ArgName("flags")->Unit(benchmark::kMillisecond);

}  // namespace
