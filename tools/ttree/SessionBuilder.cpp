#include "tools/ttree/SessionBuilder.h"

#include <algorithm>
#include <vector>

#include "tools/ttree/CommandSupport.h"
#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

SessionBuilder::SessionBuilder(const Options& options)
    : m_options(options), m_manager(KaCTransformationNodeManager::GetInstance()) {
    CommandSupport::BindDataManager();
    m_root = m_manager.CreateRootNode();
    m_access = m_manager.GetSingleWriteHandleLocked(m_root);
    m_tree = CbMakeShared<KaCSessionTransformationTree>(m_root);
}

SessionBuilder::~SessionBuilder() {
    m_tree = nullptr;
    m_manager.UnsetRootNode();
    m_access = KaCTransformationNodeManager::WriteHandle();
    CommandSupport::UnbindDataManager();
}

CbSmartPointer<KaCTransformationNodeLeaf> SessionBuilder::AddScan(
    CbSmartPointer<const KaCModelCCT> model, const CbMatrix4Rd& pose, bool trackingLost) {
    if (trackingLost || m_tree->GetClusterCount() == 0) {
        FinishCluster();
        m_tree->NewCluster(true);
        m_clusterOpen = true;
    }
    CbMatrix4Rd trafo = pose;
    return KaCTransformationTreeUtility::GetInstance().CreateLeaf(
        KaCTransformationTree::GetCollectorNode(m_tree->GetActiveCluster()), std::move(model),
        &trafo);
}

void SessionBuilder::FinishCluster() {
    if (!m_clusterOpen) {
        return;
    }
    KaCTransformationTreeUtility::GetInstance().NormalizeTreeStructure(
        KaCTransformationTree::GetCollectorNode(m_tree->GetActiveCluster()),
        static_cast<int>(m_options.maxChildren), true);
    m_clusterOpen = false;
}

void SessionBuilder::BuildModels() {
    FinishCluster();
    KaCBottomUpModelBuilder::Options options;
    options.cellSize = m_options.cellSize;
    options.threads = m_options.threads;
    KaCBottomUpModelBuilder::Build(m_root, options);
}

size_t SessionBuilder::GetDepth() const {
    size_t depth = 0;
    for (auto it = m_root->BeginNode(); it; ++it) {
        depth = std::max(depth, it.GetPath().size());
    }
    return depth;
}
