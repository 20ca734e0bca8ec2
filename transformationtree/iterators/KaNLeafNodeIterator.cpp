#include "platform/harbor/Condition.h"
#include "transformationtree/iterators/KaCPreorderWalkCache.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

using LeafIterator = KaCTransformationNode::KaNLeafNodeIterator;

LeafIterator::KaNLeafNodeIterator() {
    m_atRoot = false;
}

bool LeafIterator::descendsInto(const KaCTransformationNode& node) {
    return hasChildren(node);
}

bool LeafIterator::isLeaf(const KaCTransformationNode& node) {
    return node.IsLeaf();
}

void LeafIterator::moveUntil(Direction direction, DescentRule rule, RestRule rests) {
    if (m_singleLeafMode) {
        m_atRoot = false;
        return;
    }
    if (m_path.empty()) {
        return;
    }
    do {
        siblingMove(direction, rule);
    } while (!m_path.empty() && !rests(*GetCurrentNode()));
}

void LeafIterator::startFiltered(KaCTransformationNode& root, DescentRule rule, RestRule rests,
                                 Direction direction) {
    startDescent(&root, rule, direction);
    if (!m_path.empty() && !rests(*GetCurrentNode())) {
        moveUntil(direction, rule, rests);
    }
}

LeafIterator& LeafIterator::operator++() {
    if (!m_singleLeafMode && !m_path.empty() && snapshotReady()) {
        snapshotStep(Direction::forward, true);
    } else {
        moveUntil(Direction::forward, &descendsInto, &isLeaf);
    }
    return *this;
}

LeafIterator& LeafIterator::operator--() {
    if (!m_singleLeafMode && !m_path.empty() && snapshotReady()) {
        snapshotStep(Direction::backward, true);
    } else {
        moveUntil(Direction::backward, &descendsInto, &isLeaf);
    }
    return *this;
}

// --- The walk's ends

LeafIterator LeafIterator::startLeafWalk(KaCTransformationNode& root, Direction direction) {
    KaNLeafNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, true);
    } else {
        it.startFiltered(root, &descendsInto, &isLeaf, direction);
    }
    return it;
}

LeafIterator LeafIterator::Begin(KaCTransformationNode& root) {
    return startLeafWalk(root, Direction::forward);
}

LeafIterator LeafIterator::Last(KaCTransformationNode& root) {
    return startLeafWalk(root, Direction::backward);
}

LeafIterator LeafIterator::End(KaCTransformationNode& root) {
    KaNLeafNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, false);
    } else {
        it.startAt(&root, false);
    }
    return it;
}

LeafIterator LeafIterator::Find(KaCTransformationNodeInner& root,
                                const KaCTransformationNodeLeaf* leaf) {
    KaNLeafNodeIterator it;
    static_cast<KaNNodeIterator&>(it) = KaNNodeIterator::Find(root, leaf);
    if (leaf == nullptr || it.m_path.empty()) {
        return End(root);
    }
    return it;
}

KaCTransformationNodeWithTrafo LeafIterator::operator*() const {
    // The walk's own validity, not this class's test: a keyframe walk stepped backwards, or
    // a walk moved by IncrementToNextSibling, may stand on a node it does not stop on.
    CB_CHECK_CONDITION(m_singleLeafMode ? m_atRoot : !m_path.empty());
    return KaNNodeIterator::operator*();
}

LeafIterator::operator bool() const {
    if (m_singleLeafMode) {
        return m_atRoot;
    }
    if (const KaCPreorderWalkCache* snapshot = currentSnapshot()) {
        return snapshot->Entries()[currentPathIndex()].isLeaf;  // without reading the node
    }
    return !m_path.empty() && GetCurrentNode()->IsLeaf();
}

CbSmartPointer<KaCTransformationNodeInner> LeafIterator::GetFather() const {
    if (m_singleLeafMode) {
        return nullptr;
    }
    if (m_path.size() < 2) {
        return CbStaticCast<KaCTransformationNodeInner>(m_traversalRoot);
    }
    return CbStaticCast<KaCTransformationNodeInner>(KaNNodeIterator::GetFather());
}
