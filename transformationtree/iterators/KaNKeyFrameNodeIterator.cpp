#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using KeyframeIterator = KaCTransformationNode::KaNKeyFrameNodeIterator;

bool KeyframeIterator::isKeyframeLeaf(const KaCTransformationNode& node) {
    return node.IsLeaf() && node.IsKeyframe();
}

KeyframeIterator& KeyframeIterator::operator++() {
    forwardUntil(&descendsInto, &isKeyframeLeaf);
    return *this;
}

KeyframeIterator::operator bool() const {
    if (m_singleLeafMode) {
        return m_atRoot;
    }
    return !m_path.empty() && isKeyframeLeaf(*GetCurrentNode());
}
