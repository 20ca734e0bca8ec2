#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using InnerIterator = KaCTransformationNode::KaNInnerNodeIterator;

bool InnerIterator::restsHere() const {
    if (!KaNNodeIterator::operator bool() || m_path.empty()) {
        return true;
    }
    // Stepping dereferences the node it passes, as every value of the walk would.
    return !(**this).GetNode()->IsLeaf();
}

InnerIterator& InnerIterator::operator++() {
    do {
        KaNNodeIterator::operator++();
    } while (!restsHere());
    return *this;
}

InnerIterator& InnerIterator::operator--() {
    do {
        KaNNodeIterator::operator--();
    } while (!restsHere());
    return *this;
}

InnerIterator::operator bool() const {
    return m_atRoot || (!m_path.empty() && !GetCurrentNode()->IsLeaf());
}

InnerIterator InnerIterator::Begin(KaCTransformationNodeInner& root) {
    KaNInnerNodeIterator it;
    it.startAt(&root, true);
    return it;
}

InnerIterator InnerIterator::Last(KaCTransformationNodeInner& root) {
    KaNInnerNodeIterator it;
    static_cast<KaNNodeIterator&>(it) = KaNNodeIterator::Last(root);
    if (!it.m_path.empty() && it.GetCurrentNode()->IsLeaf()) {
        --it;
    }
    return it;
}

InnerIterator InnerIterator::End(KaCTransformationNodeInner& root) {
    KaNInnerNodeIterator it;
    it.startAt(&root, false);
    return it;
}
