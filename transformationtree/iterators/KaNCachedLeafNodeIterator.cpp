#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using CachedLeafIterator = KaCTransformationNode::KaNCachedLeafNodeIterator;

bool CachedLeafIterator::IsCachedLeaf(const KaCTransformationNode& node) {
    return node.IsLeaf() || node.GetModel();
}

bool CachedLeafIterator::descendsIntoUncached(const KaCTransformationNode& node) {
    return hasChildren(node) && !node.GetModel();
}

CachedLeafIterator& CachedLeafIterator::operator++() {
    moveUntil(Direction::forward, &descendsIntoUncached, &IsCachedLeaf);
    return *this;
}

CachedLeafIterator& CachedLeafIterator::operator--() {
    moveUntil(Direction::backward, &descendsIntoUncached, &IsCachedLeaf);
    return *this;
}

CachedLeafIterator CachedLeafIterator::Begin(KaCTransformationNode& root) {
    KaNCachedLeafNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, true);
        return it;
    }
    it.startDescent(&root, &descendsIntoUncached, Direction::forward);
    // A leaf without model is passed over here although a step may rest on it.
    if (!it.m_path.empty() && !it.GetCurrentNode()->GetModel()) {
        ++it;
    }
    return it;
}

CachedLeafIterator CachedLeafIterator::Last(KaCTransformationNode& root) {
    KaNCachedLeafNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, true);
    } else {
        it.startFiltered(root, &descendsIntoUncached, &IsCachedLeaf, Direction::backward);
    }
    return it;
}

CachedLeafIterator CachedLeafIterator::End(KaCTransformationNode& root) {
    KaNCachedLeafNodeIterator it;
    static_cast<KaNLeafNodeIterator&>(it) = KaNLeafNodeIterator::End(root);
    return it;
}

CachedLeafIterator::operator bool() const {
    if (m_singleLeafMode) {
        return m_atRoot;
    }
    return !m_path.empty() && IsCachedLeaf(*GetCurrentNode());
}
