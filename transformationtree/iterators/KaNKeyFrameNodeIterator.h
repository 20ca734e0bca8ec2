#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the keyframe leaves of a subtree. There is no End operation: the walk ends when
// the iterator tests false. `--` is the leaf walk's: it moves to the previous leaf whether
// or not that is a keyframe. Value type, not synchronised.
class KaCTransformationNode::KaNKeyFrameNodeIterator
    : public KaCTransformationNode::KaNLeafNodeIterator {
public:
    KaNKeyFrameNodeIterator() = default;
    KaNKeyFrameNodeIterator(const KaNKeyFrameNodeIterator& other) = default;
    KaNKeyFrameNodeIterator& operator=(const KaNKeyFrameNodeIterator& other) = default;
    ~KaNKeyFrameNodeIterator() = default;

    KaNKeyFrameNodeIterator& operator++() override;
    explicit operator bool() const override;

private:
    friend class KaCTransformationNodeInner;
    friend class KaCTransformationNodeLeaf;

    static bool isKeyframeLeaf(const KaCTransformationNode& node);
};
