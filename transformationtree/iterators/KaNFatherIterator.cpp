#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using FatherIterator = KaCTransformationNode::KaNFatherIterator;

FatherIterator::KaNFatherIterator(const KaNNodeIterator& start) : KaNNodeIterator(start) {}

FatherIterator& FatherIterator::operator++() {
    m_atRoot = false;
    if (!m_path.empty()) {
        removeLast();
        m_atRoot = m_path.empty();
    }
    return *this;
}

FatherIterator& FatherIterator::operator--() {
    return *this;
}
