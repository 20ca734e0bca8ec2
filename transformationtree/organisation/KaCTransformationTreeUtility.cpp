#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/courier/KaCMessageSurfelCollectionModified.h"
#include "platform/courier/KaCMessageTransformationChanged.h"
#include "platform/courier/KaCMessageTreeStructureModified.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbFactory.h"
#include "platform/tidewell/KaCMessageDispatcher.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/nodes/KaCAcquisitionOrder.h"

namespace {

using Inner = CbSmartPointer<KaCTransformationNodeInner>;
using Node = CbSmartPointer<KaCTransformationNode>;
using StructureMessage = KaCMessageTreeStructureModified;

void postStructure(const wchar_t* function, const Node& node, const Node& father,
                   StructureMessage::EModificationType type) {
    KA_POST_MESSAGE(function, CbMakeShared<StructureMessage>(node, father, type));
}

template <class T>
void requireNode(const CbSmartPointer<T>& node, const char* function) {
    if (!node) {
        CB_THROW(CbExceptionPreconditionViolation,
                 std::string("KaCTransformationTreeUtility::") + function + ": the node is null");
    }
}

void requireMaxChildren(int64_t maxChildren) {
    if (maxChildren < 2) {
        CB_THROW(CbException,
                 "KaCTransformationTreeUtility: a node must be allowed at least 2 children, not " +
                     std::to_string(maxChildren));
    }
}

// After CopyAttributesFrom, `copy` shares the attributes whose class has no clone function
// with `old`. `old` is about to be removed, which resets its attributes: it gives the shared
// ones up to `copy`, so that only its own objects are reset and the copy keeps its values.
void handOverSharedAttributes(KaCTransformationNode& old, const KaCTransformationNode& copy) {
    std::vector<const CbRTTI*> shared;
    for (const CbSmartPointer<KaARTTIAttribute>& attribute :
         copy.GetAllAttributes().GetAttributes()) {
        if (old.GetAllAttributes().GetAttribute(attribute->GetRTTI()) == attribute) {
            shared.push_back(&attribute->GetRTTI());
        }
    }
    old.DeleteAttributes(shared);
}

}  // namespace

KaCTransformationNodeManager& KaCTransformationTreeUtility::getNodeManager() {
    return KaCTransformationNodeManager::GetInstance();
}

// --- Copying, creating, removing

CbSmartPointer<KaCTransformationNode> KaCTransformationTreeUtility::CopySubtree(
    CbSmartPointer<const KaCTransformationNode> source,
    KaCTransformationNode::EAttributesToCopy attributes, CopyToSourceMap* copyToSource,
    bool copyModels) {
    if (!source) {
        return nullptr;
    }
    KaCTransformationNodeManager& manager = getNodeManager();
    Node copy;
    if (source->IsLeaf()) {
        CbSmartPointer<const KaCModelCCT> model = source->GetModel();
        if (copyModels && model) {
            model = CbCloneByName<KaCModelCCT>(*model);
        }
        copy = manager.CreateLeafNode(model);
    } else {
        Inner inner = manager.CreateInnerNode();
        for (const Node& child :
             static_cast<const KaCTransformationNodeInner&>(*source).GetChildren()) {
            manager.AppendChild(inner, CopySubtree(child, attributes, copyToSource, copyModels),
                                true);
        }
        copy = inner;
    }
    if (copyToSource != nullptr) {
        (*copyToSource)[copy] = source;
    }
    copy->AssumeAttributes(source, attributes);
    return copy;
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationTreeUtility::CreateLeaf(
    CbSmartPointer<KaCTransformationNodeInner> father, CbSmartPointer<const KaCModelCCT> model,
    CbMatrix4Rd* trafo) {
    if (!model) {
        return nullptr;
    }
    if (trafo == nullptr) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "KaCTransformationTreeUtility::CreateLeaf: no transformation");
    }
    KaCTransformationNodeManager& manager = getNodeManager();
    CbSmartPointer<KaCTransformationNodeLeaf> leaf = manager.CreateLeafNode(model);
    if (!leaf) {
        return nullptr;
    }
    leaf->SetDescription(model->GetFilename());
    leaf->SetRelativeTrafo(*trafo);
    KA_POST_MESSAGE(
        L"KaCTransformationTreeUtility::CreateLeaf",
        CbMakeShared<KaCMessageTransformationChanged>(leaf, CbMatrix4Rf(leaf->GetRelativeTrafo())));
    if (father) {
        manager.AppendChild(father, leaf, true);
    }
    return leaf;
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationTreeUtility::CreateLeafAndReplace(
    CbSmartPointer<KaCTransformationNodeLeaf> oldLeaf, CbSmartPointer<const KaCModelCCT> model) {
    if (!oldLeaf) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "KaCTransformationTreeUtility::CreateLeafAndReplace: no leaf");
    }
    KaCTransformationNodeManager& manager = getNodeManager();
    Inner father = oldLeaf->GetFather();
    CbSmartPointer<KaCTransformationNodeLeaf> newLeaf = manager.CreateLeafNode(std::move(model));
    newLeaf->AssumeAttributesIncrementVersion(oldLeaf);
    if (father) {
        manager.ExchangeChild(father, oldLeaf, newLeaf);
    }
    manager.DeleteNode(oldLeaf);
    return newLeaf;
}

void KaCTransformationTreeUtility::RemoveSubtree(CbSmartPointer<KaCTransformationNode> node,
                                                 bool post) {
    if (!node) {
        return;
    }
    if (!node->IsLeaf()) {
        auto& inner = static_cast<KaCTransformationNodeInner&>(*node);
        while (inner.GetNrChildren() != 0) {
            RemoveSubtree(inner.FrontChild(), post);
        }
    }
    KaCTransformationNodeManager& manager = getNodeManager();
    Inner father = node->GetFather();
    if (father) {
        manager.RemoveChild(father, node);
    }
    node->ResetAttributes();
    node->ClearAttributeContainer();
    manager.DeleteNode(node);
    if (post) {
        postStructure(L"KaCTransformationTreeUtility::RemoveSubtree", node, father,
                      StructureMessage::eNodeRemoved);
    }
}

void KaCTransformationTreeUtility::RemoveChildren(CbSmartPointer<KaCTransformationNodeInner> node,
                                                  bool post) {
    requireNode(node, "RemoveChildren");
    while (node->GetNrChildren() != 0) {
        RemoveSubtree(node->FrontChild(), post);
    }
}

void KaCTransformationTreeUtility::ClearAndRemoveChildren(
    CbSmartPointer<KaCTransformationNodeInner> node, bool post) {
    requireNode(node, "ClearAndRemoveChildren");
    node->ResetAttributes();
    RemoveChildren(node, post);
}

// --- Restructuring

void KaCTransformationTreeUtility::CollapseAll(CbSmartPointer<KaCTransformationNodeInner> node,
                                               bool post) {
    requireNode(node, "CollapseAll");
    KaCTransformationNodeManager& manager = getNodeManager();
    // Each leaf takes its transformation to `node` as its relative trafo, so that it keeps
    // its place once it hangs directly below `node`.
    std::vector<Node> leaves;
    for (KaCTransformationNode::KaNLeafNodeIterator it = node->BeginLeaf(); it; ++it) {
        leaves.push_back(it.GetCurrentNode());
        leaves.back()->SetRelativeTrafo(it.GetCurrentTrafo());
    }
    KaCAcquisitionOrder::Sort(leaves.begin(), leaves.end(),
                              [](const Node& leaf) { return leaf.Get(); });
    for (const Node& leaf : leaves) {
        manager.MoveNode(node, leaf, nullptr);
        if (post) {
            postStructure(L"KaCTransformationTreeUtility::CollapseAll", leaf, node,
                          StructureMessage::eNodeMoved);
        }
    }
    std::vector<Node> inners;
    KaCTransformationNode::KaNInnerNodeIterator it = node->BeginInner();
    for (++it; it; ++it) {
        inners.push_back(it.GetCurrentNode());
    }
    for (const Node& inner : inners) {
        RemoveSubtree(inner, post);
    }
}

void KaCTransformationTreeUtility::MergeInnerNodes(
    CbSmartPointer<KaCTransformationNodeInner> source,
    CbSmartPointer<KaCTransformationNodeInner> target, const CbMatrix4Rd& trafo, bool post) {
    KaCTransformationNodeManager& manager = getNodeManager();
    if (!source || !target || source->EmptyLeafs() || target->EmptyLeafs() ||
        manager.IsNodeInDataManager(source) != manager.IsNodeInDataManager(target)) {
        return;
    }
    // Moving a node's children below the node itself or below one of its descendants
    // would never end or would make a cycle.
    for (Inner above = target; above; above = above->GetFather()) {
        if (above == source) {
            CB_THROW(CbExceptionPreconditionViolation,
                     "KaCTransformationTreeUtility::MergeInnerNodes: the target lies in the "
                     "source's subtree");
        }
    }
    while (source->GetNrChildren() != 0) {
        Node child = source->FrontChild();
        child->SetRelativeTrafo(child->GetRelativeTrafo() * trafo);
        manager.MoveNode(target, child, nullptr);
        if (post) {
            postStructure(L"KaCTransformationTreeUtility::MergeInnerNodes", child, target,
                          StructureMessage::eNodeMoved);
        }
    }
    RemoveSubtree(source, post);
    if (CbSmartPointer<const KaCModelCCT> model = target->GetModel()) {
        if (post) {
            KA_POST_MESSAGE(
                L"KaCTransformationTreeUtility::MergeInnerNodes",
                CbMakeShared<KaCMessageSurfelCollectionModified>(
                    target, model->GetId(),
                    KaCMessageSurfelCollectionModified::eSurfelCollectionAboutToBeDeleted));
        }
        target->DeleteModel();
    }
}

void KaCTransformationTreeUtility::NormalizeTreeStructure(
    CbSmartPointer<KaCTransformationNodeInner> node, int maxChildren, bool post) {
    requireNode(node, "NormalizeTreeStructure");
    requireMaxChildren(maxChildren);
    KaCTransformationNodeManager& manager = getNodeManager();
    // A scratch structure outside the tree receives copies of the leaves.
    Inner modelDummy = manager.CreateInnerNode();
    modelDummy->SetDescription(L"ModelDummy");
    Inner top = manager.CreateInnerNode();
    top->SetDescription(L"ClusterDummy");
    manager.AppendChild(modelDummy, top, true);
    Inner current = top;
    for (KaCTransformationNode::KaNLeafNodeIterator it = node->BeginLeaf(); it; ++it) {
        const Node old = it.GetCurrentNode();
        CbSmartPointer<KaCTransformationNodeLeaf> copy = manager.CreateLeafNode(old->GetModel());
        copy->AssumeAttributes(old, KaCTransformationNode::eAttributesAndModel);
        copy->CopyAttributesFrom(*old);
        handOverSharedAttributes(*old, *copy);
        copy->SetRelativeTrafo(it.GetCurrentTrafo());
        current = PrepareForNextChild(current, static_cast<unsigned int>(maxChildren), top);
        top = CbStaticCast<KaCTransformationNodeInner>(modelDummy->BackChild());
        manager.AppendChild(current, copy, true);
    }
    RemoveChildren(node, post);
    while (top->GetNrChildren() != 0) {
        Node child = top->FrontChild();
        manager.RemoveChild(top, child);
        manager.AppendChild(node, child, true);
    }
    RemoveChildren(modelDummy, post);
    manager.DeleteNode(modelDummy);
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationTreeUtility::PrepareForNextChild(
    CbSmartPointer<KaCTransformationNodeInner> current, unsigned int maxChildren,
    CbSmartPointer<KaCTransformationNodeInner>& top) {
    // A null `current` also comes from a full node below `top` that has no father.
    requireNode(current, "PrepareForNextChild");
    requireNode(top, "PrepareForNextChild");
    requireMaxChildren(maxChildren);
    if (current->GetNrChildren() < maxChildren) {
        return current;
    }
    KaCTransformationNodeManager& manager = getNodeManager();
    if (current->GetID() != top->GetID()) {
        Inner up = PrepareForNextChild(current->GetFather(), maxChildren, top);
        Inner inner = manager.CreateInnerNode();
        inner->SetDescription(L"Inner");
        manager.AppendChild(up, inner, true);
        postStructure(L"KaCTransformationTreeUtility::PrepareForNextChild", inner, up,
                      StructureMessage::eNodeInserted);
        return inner;
    }
    // The top is full: a new top with the same description goes above it.
    Inner oldTop = top;
    Inner newTop = manager.CreateInnerNode();
    newTop->SetDescription(oldTop->GetDescription());
    Inner father = oldTop->GetFather();
    if (!father) {
        return nullptr;
    }
    manager.InsertChild(father, CbSmartPointer<const KaCTransformationNode>(oldTop), newTop);
    manager.MoveNode(newTop, oldTop, nullptr);
    postStructure(L"KaCTransformationTreeUtility::PrepareForNextChild", oldTop, newTop,
                  StructureMessage::eNodeMoved);
    top = newTop;
    return PrepareForNextChild(oldTop, maxChildren, top);
}
