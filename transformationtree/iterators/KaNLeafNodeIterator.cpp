#include "platform/harbor/Condition.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

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

void LeafIterator::forwardUntil(DescentRule rule, bool (*rests)(const KaCTransformationNode&)) {
    if (m_singleLeafMode) {
        m_atRoot = false;
        return;
    }
    if (m_path.empty()) {
        return;
    }
    do {
        forwardMove(rule);
    } while (!m_path.empty() && !rests(*GetCurrentNode()));
}

void LeafIterator::backwardUntil(DescentRule rule, bool (*rests)(const KaCTransformationNode&)) {
    if (m_singleLeafMode) {
        m_atRoot = false;
        return;
    }
    if (m_path.empty()) {
        return;
    }
    do {
        backwardMove(rule);
    } while (!m_path.empty() && !rests(*GetCurrentNode()));
}

LeafIterator& LeafIterator::operator++() {
    forwardUntil(&descendsInto, &isLeaf);
    return *this;
}

LeafIterator& LeafIterator::operator--() {
    backwardUntil(&descendsInto, &isLeaf);
    return *this;
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
