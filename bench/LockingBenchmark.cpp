#include <benchmark/benchmark.h>

#include <stdexcept>
#include <vector>

#include "bench/BenchmarkTrees.h"
#include "platform/tidewell/KaCDataManager.h"

namespace {

using Manager = KaCTransformationNodeManager;

// A mirrored tree of 1,000 nodes; the benchmarks take access to its nodes.
class MirroredTree {
public:
    MirroredTree() : m_manager(Manager::GetInstance()) {
        KaCDataManager& data = KaCDataManager::GetInstance();
        if (!m_manager.SetDataManager(data, data.GetRootNode())) {
            throw std::runtime_error("the node manager is bound to another data manager");
        }
        m_root = BenchmarkTrees::MakeTree(1000, 10, 1);
        m_manager.SetRootNode(m_root);
        for (auto it = m_root->BeginNode(); it; ++it) {
            m_nodes.push_back(it.GetCurrentNode());
        }
    }
    ~MirroredTree() {
        {
            Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(m_root);
            m_manager.UnsetRootNode();
        }
        static_cast<void>(m_manager.UnsetDataManager());  // the root is unset: it unbinds
        BenchmarkTrees::ReleaseAll();
    }

    Manager& m_manager;
    CbSmartPointer<KaCTransformationNodeInner> m_root;
    std::vector<CbSmartPointer<KaCTransformationNode>> m_nodes;
};

// One node: request, grant and release of a write handle, nobody else waiting.
void BM_SingleHandleLockAndRelease(benchmark::State& state) {
    MirroredTree tree;
    CbSmartPointer<KaCTransformationNode> node = tree.m_nodes[500];
    for (auto _ : state) {
        Manager::WriteHandle handle = tree.m_manager.GetSingleWriteHandleLocked(node);
        benchmark::DoNotOptimize(handle.IsGranted());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SingleHandleLockAndRelease);

// 100 read handles on different nodes, granted by one Lock() and released together.
void BM_Lock100Handles(benchmark::State& state) {
    MirroredTree tree;
    std::vector<Manager::ReadHandle> handles(100);
    for (auto _ : state) {
        for (size_t i = 0; i < handles.size(); ++i) {
            handles[i] = tree.m_manager.GetReadHandle(tree.m_nodes[1 + i * 9]);
        }
        tree.m_manager.Lock();
        for (Manager::ReadHandle& handle : handles) {
            handle = Manager::ReadHandle();
        }
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_Lock100Handles);

}  // namespace
