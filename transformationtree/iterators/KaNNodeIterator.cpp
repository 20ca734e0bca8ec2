#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/Condition.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

namespace {

// Path depth for which a walk reserves room at its first step; deeper trees grow it.
constexpr size_t c_initialPathCapacity = 16;

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
    m_traversalRoot = root;
    m_atRoot = atRoot;
    m_singleLeafMode = false;
    m_singleLeaf = nullptr;
}

void Iterator::startSingleLeaf(KaCTransformationNode* leaf, bool atRoot) {
    m_path.clear();
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
            KaCTransformationNodeInner& root = asInner(*m_traversalRoot);
            if (root.GetNrChildren() != 0) {
                append(root.BeginChild());
            }
        }
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
