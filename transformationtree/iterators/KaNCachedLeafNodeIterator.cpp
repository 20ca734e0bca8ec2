#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using CachedLeafIterator = KaCTransformationNode::KaNCachedLeafNodeIterator;

bool CachedLeafIterator::IsCachedLeaf(const KaCTransformationNode& node) {
    return node.IsLeaf() || node.GetModel();
}

bool CachedLeafIterator::descendsIntoUncached(const KaCTransformationNode& node) {
    return hasChildren(node) && !node.GetModel();
}

CachedLeafIterator& CachedLeafIterator::operator++() {
    forwardUntil(&descendsIntoUncached, &IsCachedLeaf);
    return *this;
}

CachedLeafIterator& CachedLeafIterator::operator--() {
    backwardUntil(&descendsIntoUncached, &IsCachedLeaf);
    return *this;
}

CachedLeafIterator::operator bool() const {
    if (m_singleLeafMode) {
        return m_atRoot;
    }
    return !m_path.empty() && IsCachedLeaf(*GetCurrentNode());
}
