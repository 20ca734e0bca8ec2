#include <algorithm>
#include <cstddef>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/Condition.h"
#include "transformationtree/iterators/KaCPreorderWalkCache.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

namespace {

// Path depth for which a walk reserves room at its first step; deeper trees grow it.
constexpr size_t c_initialPathCapacity = 16;

// Steps over the nodes before a walk without snapshot first asks again for one; the gap
// doubles with every request.
constexpr uint32_t c_firstRequestGap = 64;

KaCTransformationNodeInner& asInner(KaCTransformationNode& node) {
    return static_cast<KaCTransformationNodeInner&>(node);
}

}  // namespace

using Iterator = KaCTransformationNode::KaNNodeIterator;

Iterator::KaNNodeIterator() = default;
Iterator::KaNNodeIterator(const KaNNodeIterator& other) = default;
Iterator& Iterator::operator=(const KaNNodeIterator& other) = default;
Iterator::~KaNNodeIterator() = default;

// --- Shared primitives

void Iterator::startAt(KaCTransformationNode* root, bool atRoot) {
    m_path.clear();
    m_inSync = false;
    m_traversalRoot = root;
    m_atRoot = atRoot;
    m_singleLeafMode = false;
    m_singleLeaf = nullptr;
}

void Iterator::startSingleLeaf(KaCTransformationNode* leaf, bool atRoot) {
    m_path.clear();
    m_inSync = false;
    m_traversalRoot = nullptr;
    m_atRoot = atRoot;
    m_singleLeafMode = true;
    m_singleLeaf = leaf;
}

bool Iterator::hasChildren(const KaCTransformationNode& node) {
    return !node.IsLeaf() &&
           static_cast<const KaCTransformationNodeInner&>(node).GetNrChildren() != 0;
}

void Iterator::append(ChildPosition position) {
    m_inSync = false;
    if (m_path.capacity() == 0) {
        m_path.reserve(c_initialPathCapacity);
    }
    const CbMatrix4Rd& relative = (*position)->GetRelativeTrafo();
    if (m_path.empty()) {
        m_path.push_back({position, relative});
    } else {
        m_path.push_back({position, relative * m_path.back().trafoToTraversalRoot});
    }
}

KaCTransformationNodeInner& Iterator::fatherOfLast() const {
    if (m_path.size() >= 2) {
        return asInner(**m_path[m_path.size() - 2].childPosition);
    }
    return asInner(*m_traversalRoot);
}

KaCTransformationNode* Iterator::GetCurrentNode() const {
    if (!m_path.empty()) {
        return m_path.back().childPosition->Get();
    }
    if (!m_atRoot) {
        return nullptr;
    }
    return m_singleLeafMode ? m_singleLeaf.Get() : m_traversalRoot.Get();
}

const CbMatrix4Rd& Iterator::GetCurrentTrafo() const {
    return m_path.empty() ? c_matIdentityD : m_path.back().trafoToTraversalRoot;
}

void Iterator::descend(Direction direction, DescentRule rule) {
    for (KaCTransformationNode* node = GetCurrentNode(); node != nullptr && rule(*node);
         node = GetCurrentNode()) {
        KaCTransformationNodeInner& inner = asInner(*node);
        append(direction == Direction::forward ? inner.BeginChild() : inner.LastChild());
    }
}

void Iterator::startDescent(KaCTransformationNode* root, DescentRule rule, Direction direction) {
    startAt(root, false);
    KaCTransformationNodeInner& inner = asInner(*root);
    if (inner.GetNrChildren() == 0) {
        return;
    }
    append(direction == Direction::forward ? inner.BeginChild() : inner.LastChild());
    descend(direction, rule);
}

void Iterator::siblingMove(Direction direction, DescentRule rule) {
    ChildPosition position = m_path.back().childPosition;
    KaCTransformationNodeInner& father = fatherOfLast();
    removeLast();
    if (direction == Direction::forward && position + 1 != father.EndChild()) {
        append(position + 1);
        descend(direction, rule);
    } else if (direction == Direction::backward && position != father.BeginChild()) {
        append(position - 1);
        descend(direction, rule);
    }
}

// --- The walk's ends

Iterator Iterator::Begin(KaCTransformationNode& root) {
    KaNNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, true);
    } else {
        it.startAt(&root, true);
    }
    return it;
}

Iterator Iterator::Last(KaCTransformationNode& root) {
    if (!hasChildren(root)) {
        return Begin(root);
    }
    KaNNodeIterator it;
    it.startDescent(&root, &hasChildren, Direction::backward);
    return it;
}

Iterator Iterator::End(KaCTransformationNode& root) {
    KaNNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, false);
    } else {
        it.startAt(&root, false);
    }
    return it;
}

Iterator Iterator::Find(KaCTransformationNodeInner& root, const KaCTransformationNode* node) {
    KaNNodeIterator it;
    it.startAt(&root, node == &root);
    // The chain from `node` up to (not including) the root; End when it never gets there.
    std::vector<KaCTransformationNode*> chain;
    for (auto* c = const_cast<KaCTransformationNode*>(node); c != &root;) {
        if (c == nullptr) {
            return it;
        }
        chain.push_back(c);
        c = c->GetFather().Get();
    }
    KaCTransformationNodeInner* father = &root;
    for (auto entry = chain.rbegin(); entry != chain.rend(); ++entry) {
        it.append(father->FindChild(CbSmartPointer<KaCTransformationNode>(*entry)));
        father = static_cast<KaCTransformationNodeInner*>(*entry);
    }
    return it;
}

// --- Stepping

void Iterator::requireWalk() const {
    // Only a default-constructed iterator stands "at root" without a root.
    if (m_atRoot && !m_singleLeafMode && !m_traversalRoot) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "stepping a node iterator that has no traversal root");
    }
}

Iterator& Iterator::operator++() {
    requireWalk();
    if (m_singleLeafMode) {
        m_atRoot = false;
        return *this;
    }
    if (m_path.empty()) {
        if (m_atRoot) {
            m_atRoot = false;
            if (snapshotReady()) {
                if (m_rootIndex + 1 < m_endIndex) {
                    snapshotMoveTo(m_rootIndex + 1);
                }
                return *this;
            }
            KaCTransformationNodeInner& root = asInner(*m_traversalRoot);
            if (root.GetNrChildren() != 0) {
                append(root.BeginChild());
            }
        }
        return *this;
    }
    if (snapshotReady()) {
        snapshotStep(Direction::forward, false);
        return *this;
    }
    KaCTransformationNode& current = **m_path.back().childPosition;
    if (hasChildren(current)) {
        append(asInner(current).BeginChild());
        return *this;
    }
    // A finished subtree: on to the next sibling, or that of the nearest ancestor.
    return Iterator::IncrementToNextSibling();
}

Iterator& Iterator::operator--() {
    requireWalk();
    if (m_singleLeafMode || m_path.empty()) {
        m_atRoot = false;
        return *this;
    }
    if (snapshotReady()) {
        // The previous node in walk order is the one before in the snapshot; before the
        // traversal root's first child comes the traversal root.
        if (m_pathIndices.back() - 1 == m_rootIndex) {
            snapshotClear();
            m_atRoot = true;
        } else {
            snapshotMoveTo(m_pathIndices.back() - 1);
        }
        return *this;
    }
    ChildPosition position = m_path.back().childPosition;
    KaCTransformationNodeInner& father = fatherOfLast();
    removeLast();
    if (position != father.BeginChild()) {
        // The last node, in walk order, of the previous sibling's subtree.
        append(position - 1);
        descend(Direction::backward, &hasChildren);
    } else if (m_path.empty()) {
        m_atRoot = true;
    }
    return *this;
}

Iterator& Iterator::IncrementToNextSibling() {
    requireWalk();
    if (!m_path.empty() && snapshotReady()) {
        const uint32_t next = m_snapshot->Entries()[m_pathIndices.back()].end;
        if (next < m_endIndex) {
            snapshotMoveTo(next);
        } else {
            snapshotClear();
        }
        return *this;
    }
    while (!m_path.empty()) {
        ChildPosition position = m_path.back().childPosition;
        KaCTransformationNodeInner& father = fatherOfLast();
        removeLast();
        if (position + 1 != father.EndChild()) {
            append(position + 1);
            break;
        }
    }
    return *this;
}

// --- Values and comparison

KaCTransformationNodeWithTrafo Iterator::operator*() const {
    // The walk's own validity: filtered walks dereference nodes they only pass.
    CB_CHECK_CONDITION(Iterator::operator bool());
    if (m_path.empty()) {
        CbSmartPointer<KaCTransformationNode> node =
            m_singleLeafMode ? m_singleLeaf : m_traversalRoot;
        return KaCTransformationNodeWithTrafo(node, c_matIdentityD, c_matIdentityD);
    }
    const CbMatrix4Rd& fatherTrafo =
        m_path.size() >= 2 ? m_path[m_path.size() - 2].trafoToTraversalRoot : c_matIdentityD;
    return KaCTransformationNodeWithTrafo(*m_path.back().childPosition,
                                          m_path.back().trafoToTraversalRoot, fatherTrafo);
}

Iterator::operator bool() const {
    return !m_path.empty() || m_atRoot;
}

bool Iterator::operator==(const KaNNodeIterator& other) const {
    if (m_singleLeafMode) {
        return m_singleLeaf == other.m_singleLeaf && m_atRoot == other.m_atRoot;
    }
    if (m_atRoot != other.m_atRoot || m_traversalRoot != other.m_traversalRoot ||
        m_path.size() != other.m_path.size()) {
        return false;
    }
    for (size_t i = 0; i < m_path.size(); ++i) {
        if (m_path[i].childPosition != other.m_path[i].childPosition ||
            !(m_path[i].trafoToTraversalRoot == other.m_path[i].trafoToTraversalRoot)) {
            return false;
        }
    }
    return true;
}

bool Iterator::operator!=(const KaNNodeIterator& other) const {
    return !(*this == other);
}

bool Iterator::HasSameTraversalRoot(const KaNNodeIterator& other) const {
    return m_singleLeafMode ? m_singleLeaf == other.m_singleLeaf
                            : m_traversalRoot == other.m_traversalRoot;
}

CbSmartPointer<KaCTransformationNode> Iterator::GetFather() const {
    if (m_path.empty()) {
        return nullptr;
    }
    if (m_path.size() >= 2) {
        return *m_path[m_path.size() - 2].childPosition;
    }
    return m_traversalRoot;
}

// --- Steps over the pre-order snapshot

bool Iterator::snapshotReady() {
    if (m_singleLeafMode || !m_traversalRoot) {
        return false;
    }
    if (m_snapshot) {
        if (m_traversalRoot->GetWalkGeneration() != m_rootGeneration) {
            // The subtree changed: from here on the walk goes over the nodes, as it always
            // did, and does not ask again.
            m_snapshot.reset();
            m_inSync = false;
            m_requestGap = UINT32_MAX;
            return false;
        }
        if (m_inSync || resyncWithSnapshot()) {
            return true;
        }
    }
    if (m_stepsSinceRequest < m_requestGap) {
        ++m_stepsSinceRequest;
        return false;
    }
    KaCPreorderWalkCache::Attachment attachment;
    const bool attached =
        KaCPreorderWalkCache::Attach(*m_traversalRoot, m_stepsSinceRequest, attachment);
    m_stepsSinceRequest = 0;
    m_requestGap =
        std::max(c_firstRequestGap, m_requestGap <= UINT32_MAX / 2 ? 2 * m_requestGap : UINT32_MAX);
    if (attached) {
        m_snapshot = std::move(attachment.cache);
        m_rootIndex = attachment.rootIndex;
        m_endIndex = m_snapshot->Entries()[m_rootIndex].end;
        m_rootGeneration = attachment.rootGeneration;
        if (resyncWithSnapshot()) {
            return true;
        }
    }
    return false;
}

bool Iterator::resyncWithSnapshot() {
    const KaCPreorderWalkCache::Entry* entries = m_snapshot->Entries();
    const uint32_t size = m_snapshot->Size();
    m_pathIndices.resize(m_path.size());
    uint32_t father = m_rootIndex;
    for (size_t level = 0; level < m_path.size(); ++level) {
        const ChildPosition position = m_path[level].childPosition;
        const KaCTransformationNode* node = position->Get();
        const uint32_t index = KaCPreorderWalkCache::IndexOf(*node);
        if (index >= size || entries[index].node != node || entries[index].father != father ||
            entries[index].position != position) {
            return false;
        }
        m_pathIndices[level] = father = index;
    }
    m_inSync = true;
    return true;
}

void Iterator::snapshotClear() {
    m_path.clear();
    m_pathIndices.clear();
}

void Iterator::snapshotMoveTo(uint32_t index) {
    const KaCPreorderWalkCache::Entry* entries = m_snapshot->Entries();
    const uint32_t rootDepth = entries[m_rootIndex].depth;
    const size_t target = entries[index].depth - rootDepth;  // the path length at `index`
    // The deepest node of the chain from `index` up that the path already holds; the path
    // keeps the entries down to it and gets the rest of the chain.
    size_t keep = target;
    for (uint32_t node = index;
         keep > 0 && !(keep <= m_pathIndices.size() && m_pathIndices[keep - 1] == node);
         node = entries[node].father) {
        --keep;
    }
    m_pathIndices.resize(target);
    uint32_t node = index;
    for (size_t level = target; level > keep; --level) {
        m_pathIndices[level - 1] = node;
        node = entries[node].father;
    }
    m_path.erase(m_path.begin() + static_cast<std::ptrdiff_t>(keep), m_path.end());
    if (m_path.capacity() == 0) {
        m_path.reserve(c_initialPathCapacity);
    }
    const CbMatrix4Rd* relative = m_snapshot->RelativeTrafos();
    for (size_t level = keep; level < target; ++level) {
        const uint32_t at = m_pathIndices[level];
        // As append: the traversal root's children carry their relative trafo itself.
        if (m_path.empty()) {
            m_path.push_back({entries[at].position, relative[at]});
        } else {
            m_path.push_back(
                {entries[at].position, relative[at] * m_path.back().trafoToTraversalRoot});
        }
    }
}

void Iterator::snapshotStep(Direction direction, bool leavesOnly) {
    const KaCPreorderWalkCache::Entry* entries = m_snapshot->Entries();
    const uint32_t current = currentIndex();
    if (direction == Direction::forward) {
        // The leaf walk moves on from a node it passes, not into it (the sibling moves of
        // moveUntil): past the current node's subtree.
        uint32_t next = leavesOnly ? entries[current].end : current + 1;
        while (leavesOnly && next < m_endIndex && !entries[next].isLeaf) {
            ++next;
        }
        if (next < m_endIndex) {
            snapshotMoveTo(next);
        } else {
            snapshotClear();
        }
        return;
    }
    uint32_t previous = current - 1;
    while (leavesOnly && previous > m_rootIndex && !entries[previous].isLeaf) {
        --previous;
    }
    if (previous > m_rootIndex) {
        snapshotMoveTo(previous);
    } else {
        snapshotClear();
    }
}
