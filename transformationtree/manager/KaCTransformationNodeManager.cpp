#include "transformationtree/manager/KaCTransformationNodeManager.h"

#include "logging/Logger.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbStreamWriteASCII.h"
#include "platform/harbor/CbStreamWriteASCIIStringT.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/harbor/Debugging.h"
#include "transformationtree/manager/KaCTransformationTreeLoggers.h"

namespace {
constexpr size_t c_idMapBuckets = 17;
constexpr unsigned int c_exitLockMilliseconds = 1000;

template <class T>
void require(const CbSmartPointer<T>& pointer, const char* what) {
    if (!pointer) {
        CB_THROW(CbExceptionPreconditionViolation,
                 std::string("KaCTransformationNodeManager: ") + what + " is null");
    }
}

// Refuses to link `node` below `father` when `node` is `father` or one of its ancestors:
// the node would become its own ancestor, and every walk up or down would never end.
// Climbs from `father` to its root, so it costs the depth of `father`.
void requireNoCycle(const KaCTransformationNode& father, const KaCTransformationNode& node,
                    const char* operation) {
    for (CbSmartPointer<const KaCTransformationNode> ancestor(&father); ancestor;
         ancestor = ancestor->GetFather()) {
        if (ancestor.Get() == &node) {
            CB_THROW(CbExceptionPreconditionViolation,
                     std::string("KaCTransformationNodeManager::") + operation +
                         ": the node is the new father or one of its ancestors");
        }
    }
}
}  // namespace

KaCTransformationNodeManager::KaCTransformationNodeManager() : m_idMap(c_idMapBuckets) {}

KaCTransformationNodeManager::~KaCTransformationNodeManager() {
    // At process exit: take the tree out of the data manager while both still exist.
    if (m_root && IsNodeInDataManager(m_root)) {
        CyDataHandleLockOnly<1> handle = GetWriteHandle(m_root);
        if (!handle.IsGranted()) {
            GetDataManager().TryLockAndWait(c_exitLockMilliseconds).MarkExamined();
        }
        UnsetRootNode();
    }
}

// --- Creation, lookup, deletion

void KaCTransformationNodeManager::initCreatedTransformationNode(
    const CbSmartPointer<KaCTransformationNode>& node) {
    CbCriticalSectionAuto lock(m_criticalSection);
    m_idMap[node->GetID()] = node;
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationNodeManager::CreateRootNode() {
    CbSmartPointer<KaCTransformationNodeInner> root(new KaCTransformationNodeInner());
    root->SetDescription(L"Root");
    SetRootNode(root);
    return root;
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationNodeManager::CreateInnerNode() {
    CbSmartPointer<KaCTransformationNodeInner> node(new KaCTransformationNodeInner());
    initCreatedTransformationNode(node);
    return node;
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeManager::CreateLeafNode(
    CbSmartPointer<const KaCModelCCT> model) {
    CbSmartPointer<KaCTransformationNodeLeaf> node(new KaCTransformationNodeLeaf(std::move(model)));
    initCreatedTransformationNode(node);
    return node;
}

CbSmartPointer<KaCTransformationNodeLeaf>
KaCTransformationNodeManager::CreateLeafNodeFromSurfelCollection(
    CbSmartPointer<KaCSurfelCollectionCCT> collection) {
    return CreateLeafNode(KaCModelCCT::Create(std::move(collection), true));
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeManager::GetNodeByID(
    CyUniqueID id) const {
    CbCriticalSectionAuto lock(m_criticalSection);
    const CbSmartPointer<KaCTransformationNode>* node = m_idMap.Find(id);
    return node != nullptr ? *node : nullptr;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeManager::GetRootNode() {
    CbCriticalSectionAuto lock(m_criticalSection);
    return m_root;
}

void KaCTransformationNodeManager::DeleteNode(CbSmartPointer<KaCTransformationNode> node) {
    if (!node) {
        return;
    }
    CbCriticalSectionAuto lock(m_criticalSection);
    m_idMap.RemoveKey(node->GetID());
}

void KaCTransformationNodeManager::RegisterSubtree(CbSmartPointer<KaCTransformationNode> node) {
    require(node, "node");
    std::vector<CbSmartPointer<KaCTransformationNode>> nodes;
    for (KaCTransformationNode::KaNNodeIterator it = node->BeginNode(); it; ++it) {
        nodes.push_back(it.GetCurrentNode());
    }
    CbCriticalSectionAuto lock(m_criticalSection);
    for (const CbSmartPointer<KaCTransformationNode>& entry : nodes) {
        const CbSmartPointer<KaCTransformationNode>* registered = m_idMap.Find(entry->GetID());
        if (registered != nullptr && *registered != entry) {
            CB_THROW(CbException, "KaCTransformationNodeManager::RegisterSubtree: the ID " +
                                      CbToUtf8(entry->GetID().ToString()) + " names another node");
        }
    }
    for (const CbSmartPointer<KaCTransformationNode>& entry : nodes) {
        m_idMap[entry->GetID()] = entry;
    }
}

std::vector<CbSmartPointer<KaCTransformationNode>>
KaCTransformationNodeManager::GetRegisteredNodes() const {
    CbCriticalSectionAuto lock(m_criticalSection);
    std::vector<CbSmartPointer<KaCTransformationNode>> nodes;
    nodes.reserve(m_idMap.GetCount());
    for (const auto& entry : m_idMap) {
        nodes.push_back(entry.second);
    }
    return nodes;
}

size_t KaCTransformationNodeManager::GetNrRegisteredNodes() const {
    CbCriticalSectionAuto lock(m_criticalSection);
    return m_idMap.GetCount();
}

// --- Editing

KaCTransformationNodeManager::ChildPosition KaCTransformationNodeManager::requireChild(
    KaCTransformationNodeInner& father, const CbSmartPointer<KaCTransformationNode>& child) {
    ChildPosition position = father.FindChild(child);
    if (position == father.EndChild()) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "KaCTransformationNodeManager: the node is not a child of the father");
    }
    return position;
}

void KaCTransformationNodeManager::link(KaCTransformationNodeInner& father, ChildPosition position,
                                        const CbSmartPointer<KaCTransformationNode>& child) {
    father.m_children.insert(position, child);
    child->setFather(&father);
}

void KaCTransformationNodeManager::AppendChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                               CbSmartPointer<KaCTransformationNode> child,
                                               bool atEnd) {
    require(father, "father");
    InsertChild(father, atEnd ? father->EndChild() : father->BeginChild(), std::move(child));
}

void KaCTransformationNodeManager::InsertChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                               CbSmartPointer<const KaCTransformationNode> sibling,
                                               CbSmartPointer<KaCTransformationNode> child) {
    require(father, "father");
    ChildPosition position = father->FindChild(CbConstCast<KaCTransformationNode>(sibling));
    InsertChild(father, position, std::move(child));
}

void KaCTransformationNodeManager::InsertChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                               ChildPosition position,
                                               CbSmartPointer<KaCTransformationNode> child) {
    require(father, "father");
    require(child, "child");
    requireNoCycle(*father, *child, "InsertChild");
    CbSmartPointer<KaCTransformationNodeInner> currentFather = child->GetFather();
    if (currentFather == father) {
        return;
    }
    if (currentFather) {
        CB_THROW(CbException);  // the source location alone tells what went wrong
    }
    link(*father, position, child);
    if (IsNodeInDataManager(father)) {
        addSubtreeToDataManager(child, false);
    }
    renewRevisions(*father);
}

void KaCTransformationNodeManager::RemoveChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                               CbSmartPointer<KaCTransformationNode> child) {
    if (!father) {
        return;
    }
    require(child, "child");
    removeChild(father, requireChild(*father, child));
}

void KaCTransformationNodeManager::removeChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                               ChildPosition position) {
    CbSmartPointer<KaCTransformationNode> child = *position;
    if (IsNodeInDataManager(child)) {
        removeSubtreeFromDataManager(child);
    }
    father->m_children.erase(position);
    child->setFather(nullptr);
    renewRevisions(*father);
}

size_t KaCTransformationNodeManager::detachInPlace(
    KaCTransformationNodeInner& father, const CbSmartPointer<KaCTransformationNode>& oldChild) {
    size_t index = static_cast<size_t>(requireChild(father, oldChild) - father.BeginChild());
    if (IsNodeInDataManager(oldChild)) {
        removeSubtreeFromDataManager(oldChild);
    }
    oldChild->setFather(nullptr);
    return index;
}

void KaCTransformationNodeManager::attachInPlace(
    const CbSmartPointer<KaCTransformationNodeInner>& father, size_t index,
    const CbSmartPointer<KaCTransformationNode>& newChild, bool registerIds) {
    father->m_children[index] = newChild;
    newChild->setFather(father);
    if (IsNodeInDataManager(father)) {
        addSubtreeToDataManager(newChild, registerIds);
    }
    renewRevisions(*father);
}

void KaCTransformationNodeManager::ReplaceChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                                CbSmartPointer<KaCTransformationNode> oldChild,
                                                CbSmartPointer<KaCTransformationNode> newChild) {
    require(father, "father");
    require(oldChild, "old child");
    require(newChild, "new child");
    requireNoCycle(*father, *newChild, "ReplaceChild");
    size_t index = detachInPlace(*father, oldChild);
    // The old subtree is unlinked now, so dismantling it leaves the slot where it was.
    deleteSubtree(oldChild);
    attachInPlace(father, index, newChild, true);
}

void KaCTransformationNodeManager::ExchangeChild(CbSmartPointer<KaCTransformationNodeInner> father,
                                                 CbSmartPointer<KaCTransformationNode> oldChild,
                                                 CbSmartPointer<KaCTransformationNode> newChild) {
    require(father, "father");
    require(oldChild, "old child");
    require(newChild, "new child");
    requireNoCycle(*father, *newChild, "ExchangeChild");
    attachInPlace(father, detachInPlace(*father, oldChild), newChild, false);
}

void KaCTransformationNodeManager::MoveNode(CbSmartPointer<KaCTransformationNodeInner> newFather,
                                            CbSmartPointer<KaCTransformationNode> node,
                                            CbSmartPointer<KaCTransformationNode> before) {
    if (!node) {
        return;
    }
    require(newFather, "new father");
    requireNoCycle(*newFather, *node, "MoveNode");
    CbSmartPointer<KaCTransformationNodeInner> oldFather = node->GetFather();
    if (oldFather == newFather) {
        return;
    }
    if (IsNodeInDataManager(newFather) && IsNodeInDataManager(node)) {
        // The mirror follows by a move in the data manager, not by a removal and insertion.
        if (oldFather) {
            oldFather->m_children.erase(requireChild(*oldFather, node));
            node->setFather(nullptr);
            renewRevisions(*oldFather);
        }
        ChildPosition target = before ? newFather->FindChild(before) : newFather->EndChild();
        link(*newFather, target, node);
        renewRevisions(*newFather);
        moveInDataManager(node, newFather);
        return;
    }
    if (oldFather) {
        RemoveChild(oldFather, node);
    }
    ChildPosition target = before ? newFather->FindChild(before) : newFather->EndChild();
    link(*newFather, target, node);
    if (IsNodeInDataManager(newFather)) {
        addSubtreeToDataManager(node, false);
    }
    renewRevisions(*newFather);
}

void KaCTransformationNodeManager::deleteSubtree(CbSmartPointer<KaCTransformationNode> node) {
    if (!node->IsLeaf()) {
        auto& inner = static_cast<KaCTransformationNodeInner&>(*node);
        for (const CbSmartPointer<KaCTransformationNode>& child : inner.m_children) {
            child->setFather(nullptr);
            deleteSubtree(child);
        }
        inner.m_children.clear();
        inner.noteWalkChange();
        renewRevisions(inner);
    }
    if (CbSmartPointer<KaCTransformationNodeInner> father = node->GetFather()) {
        RemoveChild(father, node);
    }
    if (IsNodeInDataManager(node)) {
        removeNodeFromDataManager(node);
    }
    DeleteNode(node);
}

// --- Data manager binding

bool KaCTransformationNodeManager::SetDataManager(CyDataManager& dataManager,
                                                  CbSmartPointer<CyNode> parent) {
    CbCriticalSectionAuto lock(m_criticalSection);
    if (m_dataManager != nullptr || !parent || parent->GetDataManager() != &dataManager) {
        return false;
    }
    m_dataManager = &dataManager;
    m_dataParentNode = std::move(parent);
    return true;
}

bool KaCTransformationNodeManager::UnsetDataManager() {
    CbCriticalSectionAuto lock(m_criticalSection);
    if (m_root) {
        return false;
    }
    m_dataManager = nullptr;
    m_dataParentNode = nullptr;
    return true;
}

CyDataManager* KaCTransformationNodeManager::boundDataManager() const {
    CbCriticalSectionAuto lock(m_criticalSection);
    return m_dataManager;
}

CyDataManager& KaCTransformationNodeManager::GetDataManager() const {
    CbCriticalSectionAuto lock(m_criticalSection);
    if (m_dataManager == nullptr) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "KaCTransformationNodeManager: no data manager bound");
    }
    return *m_dataManager;
}

void KaCTransformationNodeManager::SetRootNode(CbSmartPointer<KaCTransformationNodeInner> root) {
    CbCriticalSectionAuto lock(m_criticalSection);
    const bool debug = Logging::IsLogEnabled(
        KaCTransformationTreeLoggers::TransformationNodeManager(), Logging::eDebug);
    if (debug) {
        logIDMap("SetRootNode enter");
    }
    if (!root || root->GetFather() || IsNodeInDataManager(root) || m_root) {
        CB_THROW(CbException,
                 "KaCTransformationNodeManager::SetRootNode: the root is null, has a father, is "
                 "mirrored already, or a root is set");
    }
    if (!m_dataParentNode || m_dataManager == nullptr ||
        m_dataParentNode->GetDataManager() != m_dataManager) {
        CB_THROW(CbException,
                 "KaCTransformationNodeManager::SetRootNode: no data manager or data parent node");
    }
    m_dataManager->InsertNode(m_dataParentNode, root).MarkExamined();
    m_root = root;
    for (const CbSmartPointer<KaCTransformationNode>& child : root->GetChildren()) {
        addSubtreeToDataManager(child, true);
    }
    m_idMap[root->GetID()] = root;
    if (debug) {
        logIDMap("SetRootNode exit");
    }
}

void KaCTransformationNodeManager::UnsetRootNode() {
    CbCriticalSectionAuto lock(m_criticalSection);
    if (!m_root) {
        return;
    }
    const bool debug = Logging::IsLogEnabled(
        KaCTransformationTreeLoggers::TransformationNodeManager(), Logging::eDebug);
    if (debug) {
        logIDMap("UnsetRootNode enter");
    }
    CyDataHandleLockOnly<1> handle;
    if (IsNodeInDataManager(m_root)) {
        handle = GetWriteHandle(m_root);
        if (!handle.IsGranted()) {
            return;
        }
    }
    if (!m_root->IsLeaf()) {
        // A snapshot: the mirror steps do not change the child list, but stay safe if they did.
        KaCTransformationNodeInner::ChildList children =
            static_cast<KaCTransformationNodeInner&>(*m_root).GetChildren();
        // Only the IDs: removing the root below takes the whole tree out of the data
        // manager in one pass.
        for (const CbSmartPointer<KaCTransformationNode>& child : children) {
            unregisterSubtree(*child);
        }
        m_idMap.RemoveKey(m_root->GetID());
    }
    if (handle.IsValid()) {
        m_dataManager->RemoveNode(handle).MarkExamined();
    }
    destroySubtree(m_root);
    m_root = nullptr;
    if (debug) {
        logIDMap("UnsetRootNode exit");
    }
}

// --- Mirror

bool KaCTransformationNodeManager::IsNodeInDataManager(
    CbSmartPointer<const KaCTransformationNode> node) const {
    return node && node->GetDataManager() != nullptr;
}

CbSmartPointer<CyNode> KaCTransformationNodeManager::GetDataNode(
    CbSmartPointer<KaCTransformationNode> node) const {
    return IsNodeInDataManager(node) ? CbSmartPointer<CyNode>(node) : nullptr;
}

CbSmartPointer<const CyNode> KaCTransformationNodeManager::GetDataNodeConst(
    CbSmartPointer<const KaCTransformationNode> node) const {
    return IsNodeInDataManager(node) ? CbSmartPointer<const CyNode>(node) : nullptr;
}

void KaCTransformationNodeManager::AddSubtreeToDataManager(
    CbSmartPointer<KaCTransformationNode> node) {
    addSubtreeToDataManager(std::move(node), true);
}

void KaCTransformationNodeManager::addNodeToDataManager(CbSmartPointer<KaCTransformationNode> node,
                                                        bool registerIds) {
    // A node whose father is not mirrored has no data father: the data manager refuses it.
    CbSmartPointer<CyNode> dataFather = GetDataNode(node->GetFather());
    if (CyDataManager* dataManager = boundDataManager()) {
        dataManager->InsertNode(dataFather, node).MarkExamined();
    }
    if (registerIds) {
        CbCriticalSectionAuto lock(m_criticalSection);
        m_idMap[node->GetID()] = node;
    }
}

void KaCTransformationNodeManager::addSubtreeToDataManager(
    CbSmartPointer<KaCTransformationNode> node, bool registerIds) {
    addNodeToDataManager(node, registerIds);
    if (!node->IsLeaf()) {
        for (const CbSmartPointer<KaCTransformationNode>& child :
             static_cast<KaCTransformationNodeInner&>(*node).GetChildren()) {
            addSubtreeToDataManager(child, registerIds);
        }
    }
}

void KaCTransformationNodeManager::removeNodeFromDataManager(
    CbSmartPointer<KaCTransformationNode> node) {
    CyDataHandleLockOnly<1> handle = GetWriteHandle(node);
    if (handle.IsValid()) {
        handle.GetDataManager()->RemoveNode(handle).MarkExamined();
    }
}

void KaCTransformationNodeManager::removeSubtreeFromDataManager(
    CbSmartPointer<KaCTransformationNode> node) {
    // The data manager takes the node out with its whole subtree, in one pass. Taking the
    // nodes out one by one erased each from its parent's child list: quadratic in the
    // number of children.
    removeNodeFromDataManager(node);
}

void KaCTransformationNodeManager::unregisterSubtree(const KaCTransformationNode& node) {
    CbCriticalSectionAuto lock(m_criticalSection);
    m_idMap.RemoveKey(node.GetID());
    if (!node.IsLeaf()) {
        for (const CbSmartPointer<KaCTransformationNode>& child :
             static_cast<const KaCTransformationNodeInner&>(node).GetChildren()) {
            unregisterSubtree(*child);
        }
    }
}

void KaCTransformationNodeManager::moveInDataManager(
    CbSmartPointer<KaCTransformationNode> node,
    CbSmartPointer<KaCTransformationNodeInner> newFather) {
    CyDataHandleLockOnly<1> handle = GetWriteHandle(node);
    if (handle.IsValid()) {
        handle.GetDataManager()->MoveNode(handle, newFather).MarkExamined();
    }
}

void KaCTransformationNodeManager::destroySubtree(CbSmartPointer<KaCTransformationNode> node) {
    if (IsNodeInDataManager(node)) {
        removeSubtreeFromDataManager(node);
    }
    if (node->IsLeaf()) {
        node->setFather(nullptr);
        return;
    }
    auto& inner = static_cast<KaCTransformationNodeInner&>(*node);
    for (const CbSmartPointer<KaCTransformationNode>& child : inner.m_children) {
        destroySubtree(child);
    }
    inner.m_children.clear();
    inner.noteWalkChange();
}

// --- Handles and locking

CyDataHandleLockOnly<0> KaCTransformationNodeManager::GetReadHandle(
    CbSmartPointer<const KaCTransformationNode> node) const {
    CyDataHandleLockOnly<0> handle;
    if (IsNodeInDataManager(node)) {
        handle = CyDataHandleLockOnly<0>(*node->GetDataManager(),
                                         CbConstCast<KaCTransformationNode>(node));
    }
    return handle;
}

CyDataHandleLockOnly<1> KaCTransformationNodeManager::GetWriteHandle(
    CbSmartPointer<KaCTransformationNode> node) const {
    CyDataHandleLockOnly<1> handle;
    if (IsNodeInDataManager(node)) {
        handle = CyDataHandleLockOnly<1>(*node->GetDataManager(), node);
    }
    return handle;
}

void KaCTransformationNodeManager::GetHandle(CbSmartPointer<const CyNode> dataNode,
                                             CyDataHandleLockOnly<0>& handle) const {
    CbSmartPointer<const KaCTransformationNode> node =
        CbDynamicCast<const KaCTransformationNode>(dataNode);
    if (IsNodeInDataManager(node)) {
        handle = GetReadHandle(node);
    }
}

void KaCTransformationNodeManager::GetHandle(CbSmartPointer<CyNode> dataNode,
                                             CyDataHandleLockOnly<1>& handle) const {
    CbSmartPointer<KaCTransformationNode> node = CbDynamicCast<KaCTransformationNode>(dataNode);
    if (IsNodeInDataManager(node)) {
        handle = GetWriteHandle(node);
    }
}

namespace {

const wchar_t* causeText(CyDataManager::ELockStatus status) {
    switch (status) {
        case CyDataManager::eLockGranted:
            return L"Cause: Successfully locked! (So why did it fail?)";
        case CyDataManager::eLockGeneralError:
            return L"Cause: General locking error!";
        case CyDataManager::eLockNoRequests:
            return L"Cause: No locking queries defined!";
        case CyDataManager::eLockUnreleased:
            return L"Cause: Still unreleased locks!";
        case CyDataManager::eLockInvalidNode:
            return L"Cause: Invalid Node (maybe removed from the DataManager?)!";
        case CyDataManager::eLockNodesLocked:
            return L"Cause: Nodes locked by another thread (only with WaitTime == 0)!";
        case CyDataManager::eLockTimeout:
            return L"Cause: Timeout (nodes not released during WaitTime of 10s!";
    }
    return L"Cause: Unknown Error!";
}

constexpr unsigned int c_lockWaitMilliseconds = 10000;
constexpr unsigned int c_singleHandleAttemptMilliseconds = 100;

}  // namespace

void KaCTransformationNodeManager::Lock() {
    CyDataManager::ELockStatus status = CyDataManager::eLockGeneralError;
    if (TryLockAndWait(c_lockWaitMilliseconds, status)) {
        return;
    }
    const Logging::CLogger& logger = KaCTransformationTreeLoggers::TransformationNodeManager();
    if (Logging::IsLogEnabled(logger, Logging::eWarning)) {
        std::wstring stack;
        Debugging::GetCallStack(stack, 3);
        Logging::LogWarning(logger, __FILE__, __LINE__, "KaCTransformationNodeManager::Lock",
                            L"%s\n%s", causeText(status), stack.c_str());
    }
    CB_THROW(CbException, "KaCTransformationNodeManager::Lock");
}

CbCheckReturn<bool> KaCTransformationNodeManager::TryLock() {
    return GetDataManager().TryLock();
}

CbCheckReturn<bool> KaCTransformationNodeManager::TryLockAndWait(unsigned int milliseconds) {
    return GetDataManager().TryLockAndWait(milliseconds);
}

CbCheckReturn<bool> KaCTransformationNodeManager::TryLockAndWait(
    unsigned int milliseconds, CyDataManager::ELockStatus& status) {
    return GetDataManager().TryLockAndWait(milliseconds, status);
}

template <int Access, class Node>
void KaCTransformationNodeManager::getSingleHandleLocked(const Node& node,
                                                         CyDataHandleLockOnly<Access>& handle,
                                                         const wchar_t* kindName) {
    const Logging::CLogger& logger = KaCTransformationTreeLoggers::TransformationNodeManager();
    const char* function = "KaCTransformationNodeManager::getSingleHandleLocked";
    // The log lines need the description while this thread waits for a writer that may
    // rename the node: copy it now, under the node's own lock, not the text later.
    const std::wstring description = node ? node->GetDescriptionCopy() : L"nullptr";
    int waited = 0;
    for (;;) {
        if constexpr (Access == 0) {
            handle = GetReadHandle(node);
        } else {
            handle = GetWriteHandle(node);
        }
        CyDataManager::ELockStatus status = CyDataManager::eLockGeneralError;
        // A handle that access this thread holds already covers is granted as it is made;
        // an unmirrored node gives no handle, which is reported as having nothing to lock.
        bool granted = handle.IsValid() && handle.IsGranted();
        if (!handle.IsValid()) {
            status = CyDataManager::eLockNoRequests;
        } else if (!granted) {
            granted = TryLockAndWait(c_singleHandleAttemptMilliseconds, status);
        }
        const bool timedOut = status == CyDataManager::eLockTimeout;
        if (timedOut) {
            waited += static_cast<int>(c_singleHandleAttemptMilliseconds);
            Logging::LogDebug(logger, __FILE__, __LINE__, function,
                              L"getSingleHandleLocked<%s>(%s) 100ms Timeout, retrying.", kindName,
                              description.c_str());
        }
        if (granted) {
            if (waited > static_cast<int>(c_singleHandleAttemptMilliseconds)) {
                std::wstring stack;
                Debugging::GetCallStack(stack, 3);
                Logging::LogWarning(logger, __FILE__, __LINE__, function,
                                    L"getSingleHandleLocked<%s>(%s) waited for %dms.\n%s", kindName,
                                    description.c_str(), waited, stack.c_str());
            }
            return;
        }
        if (timedOut) {
            continue;
        }
        std::wstring stack;
        Debugging::GetCallStack(stack, 3);
        const wchar_t* format = status == CyDataManager::eLockNoRequests
                                    ? L"getSingleHandleLocked<%s>(%s) NoData.\n%s"
                                : status == CyDataManager::eLockUnreleased
                                    ? L"getSingleHandleLocked<%s>(%s) NotAllLocksReleased.\n%s"
                                : status == CyDataManager::eLockInvalidNode
                                    ? L"getSingleHandleLocked<%s>(%s) InvalidNode.\n%s"
                                    : nullptr;
        if (format != nullptr) {
            Logging::LogWarning(logger, __FILE__, __LINE__, function, format, kindName,
                                description.c_str(), stack.c_str());
        }
        CB_THROW(CbException, "KaCTransformationNodeManager::getSingleHandleLocked");
    }
}

CyDataHandleLockOnly<0> KaCTransformationNodeManager::GetSingleReadHandleLocked(
    CbSmartPointer<const KaCTransformationNode> node) {
    CyDataHandleLockOnly<0> handle;
    getSingleHandleLocked(node, handle, L"Read");
    return handle;
}

CyDataHandleLockOnly<1> KaCTransformationNodeManager::GetSingleWriteHandleLocked(
    CbSmartPointer<KaCTransformationNode> node) {
    CyDataHandleLockOnly<1> handle;
    getSingleHandleLocked(node, handle, L"Write");
    return handle;
}

bool KaCTransformationNodeManager::IsReadLocked(
    CbSmartPointer<const KaCTransformationNode> node) const {
    return IsNodeInDataManager(node) && GetReadHandle(node).IsGranted();
}

bool KaCTransformationNodeManager::IsWriteLocked(CbSmartPointer<KaCTransformationNode> node) const {
    return IsNodeInDataManager(node) && GetWriteHandle(node).IsGranted();
}

bool KaCTransformationNodeManager::IsNotManagedOrReadLocked(
    CbSmartPointer<const KaCTransformationNode> node) const {
    return !IsNodeInDataManager(node) || IsReadLocked(node);
}

bool KaCTransformationNodeManager::IsNotManagedOrWriteLocked(
    CbSmartPointer<KaCTransformationNode> node) const {
    return !IsNodeInDataManager(node) || IsWriteLocked(node);
}

void KaCTransformationNodeManager::logIDMap(const char* title) const {
    const Logging::CLogger& logger = KaCTransformationTreeLoggers::TransformationNodeManager();
    const char* function = "KaCTransformationNodeManager::logIDMap";
    std::wstring wideTitle = CbFromUtf8(title ? title : "");
    CbCriticalSectionAuto lock(m_criticalSection);
    Logging::LogDebug(logger, __FILE__, __LINE__, function, L"Start ID Map: %s", wideTitle.c_str());
    for (const auto& [id, node] : m_idMap) {
        Logging::LogDebug(logger, __FILE__, __LINE__, function, L"id %s -> description %s",
                          id.ToString().c_str(), node->GetDescription().c_str());
    }
    Logging::LogDebug(logger, __FILE__, __LINE__, function, L"End ID Map: %s", wideTitle.c_str());
}

// --- Consistency

CbCheckReturn<bool, CbCheckReturnPolicyAssert> KaCTransformationNodeManager::checkIsNodeConsistent(
    CbSmartPointer<const KaCTransformationNode> node) const {
    return node && IsNotManagedOrReadLocked(node) && GetNodeByID(node->GetID()) == node;
}

// The links of a father and a child that the child's place in the list does not decide:
// the father link names the father, and the child is mirrored below the father exactly
// when the father is mirrored. The caller knows that the list holds the child.
CbCheckReturn<bool, CbCheckReturnPolicyAssert>
KaCTransformationNodeManager::checkIsFatherAndChildConsistent(
    CbSmartPointer<const KaCTransformationNodeInner> father,
    CbSmartPointer<const KaCTransformationNode> child) const {
    if (child->GetFather() != father) {
        return false;
    }
    const bool childMirrored = IsNodeInDataManager(child);
    if (childMirrored != IsNodeInDataManager(father)) {
        return false;
    }
    return !childMirrored || GetDataNodeConst(child)->GetParent() == GetDataNodeConst(father);
}

bool KaCTransformationNodeManager::checkNodeAndChildren(
    const CbSmartPointer<const KaCTransformationNode>& node,
    std::unordered_set<const KaCTransformationNode*>* listed) const {
    if (!checkIsNodeConsistent(node) || node->GetName() != node->GetID().ToString()) {
        return false;
    }
    if (node->IsLeaf()) {
        return true;
    }
    CbSmartPointer<const KaCTransformationNodeInner> inner =
        CbStaticCast<const KaCTransformationNodeInner>(node);
    // Walking the list is what shows that it holds each child; searching the list for
    // every child again cost the square of the number of children.
    for (const CbSmartPointer<KaCTransformationNode>& child : inner->GetChildren()) {
        if (!checkIsNodeConsistent(child) || !checkIsFatherAndChildConsistent(inner, child)) {
            return false;
        }
        if (listed != nullptr) {
            listed->insert(child.Get());
        }
    }
    return true;
}

CbCheckReturn<bool, CbCheckReturnPolicyAssert> KaCTransformationNodeManager::IsValid(
    CbSmartPointer<const KaCTransformationNode> node) const {
    if (!node || !checkNodeAndChildren(node, nullptr)) {
        return false;
    }
    CbSmartPointer<const KaCTransformationNodeInner> father = node->GetFather();
    if (!father) {
        return true;
    }
    return checkIsNodeConsistent(father) && father->FindChild(node) != father->EndChild() &&
           checkIsFatherAndChildConsistent(father, node);
}

CbCheckReturn<bool, CbCheckReturnPolicyAssert> KaCTransformationNodeManager::IsValid() const {
    // The ID map is read without the lock: callers make sure nobody registers meanwhile.
    // IsValid(node) for every node, without searching a father's list for each of its
    // children: every father checks the links to the children its list holds, and a node
    // whose father link names a registered father must be among the children so found.
    std::unordered_set<const KaCTransformationNode*> listed;
    listed.reserve(m_idMap.GetCount());
    for (const auto& entry : m_idMap) {
        if (!checkNodeAndChildren(entry.second, &listed)) {
            return false;
        }
    }
    for (const auto& entry : m_idMap) {
        if (entry.second->GetFather() && !listed.contains(entry.second.Get())) {
            return false;
        }
    }
    if (!m_root) {
        return true;
    }
    if (!IsNodeInDataManager(m_root)) {
        return false;
    }
    return GetDataNodeConst(m_root)->GetParent() == m_dataParentNode;
}

// --- Dump

void KaCTransformationNodeManager::dump(CbStreamWriteASCII& stream) const {
    CbCriticalSectionAuto lock(m_criticalSection);
    CbStreamWriteASCIIStringT<wchar_t> text;
    text << L"\n"
         << L"--------------------------------------------------------------------\n"
         << L"KaCTransformationNodeManager:\n"
         << L"\n";
    if (m_root) {
        for (KaCTransformationNode::KaNNodeIterator it = m_root->BeginNode(); it; ++it) {
            const KaCTransformationNode& node = *it.GetCurrentNode();
            text << std::wstring(it.GetPath().size(), L' ') << node.GetDescription()
                 << (node.IsLeaf() ? L"[leaf]\n" : L"\n");
        }
    }
    text.WriteTo(stream);
}
