#include "tools/ttree/DemoCommand.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/tidewell/KaCDataManager.h"
#include "tools/ttree/SyntheticScanner.h"
#include "transformationtree/KaCTransformationNodeManager.h"

namespace {

constexpr uint32_t c_scansPerCluster = 10;
constexpr float c_cellSize = 0.3f;

class Phase {
public:
    explicit Phase(const char* name) : m_name(name), m_start(std::chrono::steady_clock::now()) {}
    ~Phase() {
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
                .count();
        std::printf("  %-28s %8.1f ms\n", m_name, ms);
    }

private:
    const char* m_name;
    std::chrono::steady_clock::time_point m_start;
};

}  // namespace

int DemoCommand::Run(const Options& options) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    KaCDataManager& dataManager = KaCDataManager::GetInstance();
    manager.SetDataManager(dataManager, dataManager.GetRootNode());
    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateRootNode();
    KaCTransformationNodeManager::WriteHandle access = manager.GetSingleWriteHandleLocked(root);

    std::printf("ttree demo: %u scans of a synthetic dental arch\n", options.scans);
    SyntheticScanner scanner(options.scans);
    std::vector<CbSmartPointer<KaCTransformationNodeInner>> clusters;
    uint64_t surfels = 0;
    {
        Phase phase("scan and build tree");
        for (uint32_t i = 0; i < options.scans; ++i) {
            if (i % c_scansPerCluster == 0) {
                clusters.push_back(manager.CreateInnerNode());
                clusters.back()->SetDescription(L"Cluster " + std::to_wstring(clusters.size() - 1));
                manager.AppendChild(root, clusters.back(), true);
            }
            SyntheticScanner::Scan scan = scanner.TakeScan(i);
            surfels += scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                           ->GetNrSurfels();
            CbSmartPointer<KaCTransformationNodeLeaf> leaf = manager.CreateLeafNode(scan.model);
            leaf->SetDescription(scan.model->GetFilename());
            leaf->SetRelativeTrafo(scan.pose);
            manager.AppendChild(clusters.back(), leaf, true);
        }
    }
    {
        Phase phase("subsampled cluster models");
        for (const auto& cluster : clusters) {
            cluster->CreateModel(false, c_cellSize, 0.0f);
        }
    }
    uint32_t merged = 0;
    {
        Phase phase("merged session model");
        root->CreateModel(false, 0.0f, 0.0f);
        merged = root->GetModel()
                     ->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                     ->GetNrSurfels();
    }
    CyBoundingBox3D box = root->GetBoundingBox(c_matIdentityD);
    std::printf("scans %u, surfels %llu, clusters %zu, leaves %llu, merged model %u surfels\n",
                options.scans, static_cast<unsigned long long>(surfels), clusters.size(),
                static_cast<unsigned long long>(root->GetNrLeafNodes()), merged);
    std::printf("extent %.1f x %.1f x %.1f mm\n", box.GetExtent().x, box.GetExtent().y,
                box.GetExtent().z);
    if (!manager.IsValid()) {
        std::fprintf(stderr, "ttree demo: the tree failed its consistency check\n");
        return 1;
    }
    manager.UnsetRootNode();
    manager.UnsetDataManager();
    return 0;
}
