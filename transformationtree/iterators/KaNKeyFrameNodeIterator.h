#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the keyframe leaves of a subtree. There is no End operation: the walk ends when
// the iterator tests false. `--` is the leaf walk's: it moves to the previous leaf whether
// or not that is a keyframe. Value type, not synchronised.
class KaCTransformationNode::KaNKeyFrameNodeIterator
    : public KaCTransformationNode::KaNLeafNodeIterator {
public:
    // The first keyframe leaf of the subtree of `root`, or an iterator that tests false.
    // On a leaf: single-leaf mode, valid when the leaf is a keyframe.
    static KaNKeyFrameNodeIterator Begin(KaCTransformationNode& root);

    KaNKeyFrameNodeIterator() = default;
    KaNKeyFrameNodeIterator(const KaNKeyFrameNodeIterator& other) = default;
    KaNKeyFrameNodeIterator& operator=(const KaNKeyFrameNodeIterator& other) = default;
    ~KaNKeyFrameNodeIterator() = default;

    KaNKeyFrameNodeIterator& operator++() override;
    explicit operator bool() const override;

private:
    static bool isKeyframeLeaf(const KaCTransformationNode& node);
};
