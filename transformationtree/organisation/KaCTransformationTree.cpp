#include "transformationtree/organisation/KaCTransformationTree.h"

#include "platform/courier/KaCMessageTreeStructureModified.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbExceptionUnknownExtension.h"
#include "platform/harbor/CbFormat.h"
#include "platform/tidewell/KaCMessageDispatcher.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

namespace {

using Inner = KaCTransformationTree::Inner;
using ConstInner = KaCTransformationTree::ConstInner;
using StructureMessage = KaCMessageTreeStructureModified;

// Child `index` of `node` when it exists and is an inner node.
template <class Pointer, class Result>
Result innerChild(const Pointer& node, uint64_t index) {
    if (!node || node->GetNrChildren() <= index) {
        return nullptr;
    }
    auto child = *(node->BeginChild() + static_cast<std::ptrdiff_t>(index));
    return child->IsLeaf() ? nullptr : CbStaticCast<typename Result::element_type>(child);
}

}  // namespace

KaCTransformationTree::~KaCTransformationTree() {
    Inner root;
    {
        CbCriticalSectionAuto lock(m_lock);
        root = m_root;
    }
    if (root && KaCTransformationNodeManager::GetInstance().IsNodeInDataManager(root)) {
        KaCTransformationTreeUtility::GetInstance().RemoveSubtree(root, false);
    }
}

const IExtensionInterface* KaCTransformationTree::GetExtension(const char* /*name*/,
                                                               bool throwIfUnknown) const {
    if (throwIfUnknown) {
        CB_THROW(CbExceptionUnknownExtension);
    }
    return nullptr;
}

IExtensionInterface* KaCTransformationTree::GetExtension(const char* /*name*/,
                                                         bool throwIfUnknown) {
    if (throwIfUnknown) {
        CB_THROW(CbExceptionUnknownExtension);
    }
    return nullptr;
}

// --- Root and clusters

ConstInner KaCTransformationTree::GetRoot() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_root;
}

Inner KaCTransformationTree::GetRoot() {
    CbCriticalSectionAuto lock(m_lock);
    return m_root;
}

void KaCTransformationTree::SetRoot(Inner root) {
    setRoot(std::move(root));
}

void KaCTransformationTree::setRoot(Inner root) {
    CbCriticalSectionAuto lock(m_lock);
    m_root = std::move(root);
}

ConstInner KaCTransformationTree::GetModelNodeConst() const {
    return const_cast<KaCTransformationTree*>(this)->GetModelNode();
}

uint64_t KaCTransformationTree::GetClusterCount() const {
    return GetModelNodeConst()->GetNrChildren();
}

ConstInner KaCTransformationTree::GetActiveCluster() const {
    return GetActiveClusterForModel(const_cast<KaCTransformationTree*>(this)->GetModelNode());
}

Inner KaCTransformationTree::GetActiveCluster() {
    return GetActiveClusterForModel(GetModelNode());
}

ConstInner KaCTransformationTree::GetReferenceCluster() const {
    return GetReferenceClusterForModelConst(GetModelNodeConst());
}

Inner KaCTransformationTree::GetReferenceCluster() {
    return GetReferenceClusterForModel(GetModelNode());
}

Inner KaCTransformationTree::CreateNewCluster(Inner model, bool post) {
    return newClusterForModel(std::move(model), post);
}

Inner KaCTransformationTree::NewCluster(bool post) {
    return newClusterForModel(GetModelNode(), post);
}

void KaCTransformationTree::RemoveCluster(Inner cluster) {
    KaCTransformationTreeUtility::GetInstance().RemoveSubtree(cluster, false);
}

void KaCTransformationTree::GetClusterNodes(Inner model, CbList<Inner>& clusters) const {
    if (!model) {
        return;
    }
    const std::wstring& optimizer = getOptimizerDescription();
    for (const CbSmartPointer<KaCTransformationNode>& child : model->GetChildren()) {
        if (child->IsLeaf()) {
            continue;
        }
        Inner cluster = CbStaticCast<KaCTransformationNodeInner>(child);
        if (cluster->GetNrChildren() == 3 &&
            cluster->FrontChild()->GetDescription().compare(0, 9, optimizer) == 0) {
            clusters.AddTail(cluster);
        }
    }
}

Inner KaCTransformationTree::newClusterForModel(Inner model, bool post) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    Inner cluster = manager.CreateInnerNode();
    cluster->SetDescription(CbFormatW(L"Cluster %d", static_cast<int>(m_clusterCounter)));
    manager.AppendChild(model, cluster, true);
    ++m_clusterCounter;
    Inner parts[3];
    const std::wstring* descriptions[3] = {&getOptimizerDescription(), &getCollectorDescription(),
                                           &getClipboardDescription()};
    for (int i = 0; i < 3; ++i) {
        parts[i] = manager.CreateInnerNode();
        parts[i]->SetDescription(*descriptions[i]);
    }
    for (const Inner& part : parts) {
        manager.AppendChild(cluster, part, true);
    }
    if (post) {
        const wchar_t* function = L"KaCTransformationTree::newClusterForModel";
        KA_POST_MESSAGE(function, CbMakeShared<StructureMessage>(cluster, model,
                                                                 StructureMessage::eClusterAdded));
        KA_POST_MESSAGE(function, CbMakeShared<StructureMessage>(
                                      cluster, model, StructureMessage::eActiveClusterChanged));
        for (const Inner& part : parts) {
            KA_POST_MESSAGE(function, CbMakeShared<StructureMessage>(
                                          part, cluster, StructureMessage::eNodeInserted));
        }
    }
    return cluster;
}

// --- Look-ups

Inner KaCTransformationTree::GetActiveClusterForModel(Inner model) {
    return model ? innerChild<Inner, Inner>(model, model->GetNrChildren() - 1) : nullptr;
}

Inner KaCTransformationTree::GetReferenceClusterForModel(Inner model) {
    return innerChild<Inner, Inner>(model, 0);
}

ConstInner KaCTransformationTree::GetReferenceClusterForModelConst(ConstInner model) {
    return innerChild<ConstInner, ConstInner>(model, 0);
}

Inner KaCTransformationTree::GetOptimizerNode(Inner cluster) {
    return innerChild<Inner, Inner>(cluster, 0);
}

ConstInner KaCTransformationTree::GetOptimizerNodeConst(ConstInner cluster) {
    return innerChild<ConstInner, ConstInner>(cluster, 0);
}

Inner KaCTransformationTree::GetCollectorNode(Inner cluster) {
    return innerChild<Inner, Inner>(cluster, 1);
}

ConstInner KaCTransformationTree::GetCollectorNodeConst(ConstInner cluster) {
    return innerChild<ConstInner, ConstInner>(cluster, 1);
}

Inner KaCTransformationTree::GetClipboardNode(Inner cluster) {
    return innerChild<Inner, Inner>(cluster, 2);
}

ConstInner KaCTransformationTree::GetClipboardNodeConst(ConstInner cluster) {
    return innerChild<ConstInner, ConstInner>(cluster, 2);
}

const std::wstring& KaCTransformationTree::getOptimizerDescription() {
    static const std::wstring description = L"Optimizer";
    return description;
}

const std::wstring& KaCTransformationTree::getCollectorDescription() {
    static const std::wstring description = L"Collector";
    return description;
}

const std::wstring& KaCTransformationTree::getClipboardDescription() {
    static const std::wstring description = L"Clipboard";
    return description;
}
