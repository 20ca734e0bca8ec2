#include "tools/ttree/CommandSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/tidewell/KaCDataManager.h"
#include "tools/ttree/TreeCommand.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"

CbSmartPointer<KaCTransformationNode> CommandSupport::FindNode(
    const CbSmartPointer<KaCTransformationNodeInner>& root, const std::string& id) {
    if (id.empty()) {
        return root;
    }
    std::string bare = id;
    if (bare.size() > 2 && bare.front() == '{' && bare.back() == '}') {
        bare = bare.substr(1, bare.size() - 2);
    }
    CyUniqueID wanted = CyUniqueID::GetInvalidID();
    if (!CyUniqueID::TryParse(std::wstring(bare.begin(), bare.end()), wanted)) {
        CB_THROW(CbException, "'" + id + "' is not a node ID");
    }
    for (auto it = root->BeginNode(); it; ++it) {
        if (it.GetCurrentNode()->GetID() == wanted) {
            return it.GetCurrentNode();
        }
    }
    CB_THROW(CbException, "the session has no node " + id);
}

CbSmartPointer<KaCSurfelCollectionCCT> CommandSupport::SurfelsOf(
    const CbSmartPointer<KaCTransformationNode>& node, float cellSize, const CbMatrix4Rd& into) {
    KaCNodeVector leaves(node, KaCNodeVector::eLeafNodes, into, 0);
    // Leaves without a model have nothing to show.
    std::erase_if(leaves,
                  [](const KaCNodeAccelerated& element) { return !element.surfelCollection; });
    return KaCTransformationNode::ComputeSubsampling(
        leaves, KaCModelCCT::eSurfelCollectionTypeStandard, cellSize, 0.0f, nullptr);
}

CommandSupport::Phase::Phase(const char* name)
    : m_name(name), m_start(std::chrono::steady_clock::now()) {}

CommandSupport::Phase::~Phase() {
    double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
            .count();
    std::printf("  %-30s %9.1f ms\n", m_name, ms);
}

std::vector<const KaCTransformationNode*> CommandSupport::ClustersOf(
    const KaCSessionFile::Contents& session) {
    CbList<CbSmartPointer<KaCTransformationNodeInner>> clusters;
    CbMakeShared<KaCSessionTransformationTree>(session.root)
        ->GetClusterNodes(session.root, clusters);
    std::vector<const KaCTransformationNode*> result;
    for (const auto& cluster : clusters) {
        result.push_back(cluster.Get());
    }
    return result;
}

std::optional<float> CommandSupport::ModelCellOf(const KaCSessionFile::Contents& session) {
    auto cell = session.properties.find(TreeCommand::c_cellProperty);
    if (cell == session.properties.end()) {
        return std::nullopt;
    }
    std::string text = CbToUtf8(cell->second);
    char* end = nullptr;
    float value = std::strtof(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) ||
        value < 0.0f) {
        return std::nullopt;
    }
    return value;
}

void CommandSupport::BindDataManager() {
    KaCDataManager& data = KaCDataManager::GetInstance();
    if (!KaCTransformationNodeManager::GetInstance().SetDataManager(data, data.GetRootNode())) {
        CB_THROW(CbException, "the node manager is bound to another data manager already");
    }
}

void CommandSupport::UnbindDataManager() {
    // Refused only while a root is set, and every caller unsets it first.
    static_cast<void>(KaCTransformationNodeManager::GetInstance().UnsetDataManager());
}
