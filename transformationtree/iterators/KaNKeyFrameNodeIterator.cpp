#include "transformationtree/nodes/KaCTransformationNodeInner.h"

using KeyframeIterator = KaCTransformationNode::KaNKeyFrameNodeIterator;

bool KeyframeIterator::isKeyframeLeaf(const KaCTransformationNode& node) {
    return node.IsLeaf() && node.IsKeyframe();
}

KeyframeIterator& KeyframeIterator::operator++() {
    moveUntil(Direction::forward, &descendsInto, &isKeyframeLeaf);
    return *this;
}

KeyframeIterator KeyframeIterator::Begin(KaCTransformationNode& root) {
    KaNKeyFrameNodeIterator it;
    if (root.IsLeaf()) {
        it.startSingleLeaf(&root, root.IsKeyframe());
    } else {
        it.startFiltered(root, &descendsInto, &isKeyframeLeaf, Direction::forward);
    }
    return it;
}

KeyframeIterator::operator bool() const {
    if (m_singleLeafMode) {
        return m_atRoot;
    }
    return !m_path.empty() && isKeyframeLeaf(*GetCurrentNode());
}
