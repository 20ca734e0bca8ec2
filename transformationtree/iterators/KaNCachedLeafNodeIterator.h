#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the cached leaves of a subtree: leaves, and inner nodes that hold a model, whose
// subtrees the walk does not enter (their model stands for them). The traversal root
// itself is never one of them. Value type, not synchronised.
class KaCTransformationNode::KaNCachedLeafNodeIterator
    : public KaCTransformationNode::KaNLeafNodeIterator {
public:
    KaNCachedLeafNodeIterator() = default;
    KaNCachedLeafNodeIterator(const KaNCachedLeafNodeIterator& other) = default;
    KaNCachedLeafNodeIterator& operator=(const KaNCachedLeafNodeIterator& other) = default;
    ~KaNCachedLeafNodeIterator() = default;

    KaNCachedLeafNodeIterator& operator++() override;
    KaNCachedLeafNodeIterator& operator--() override;
    explicit operator bool() const override;

    // A leaf, or an inner node that holds a model.
    static bool IsCachedLeaf(const KaCTransformationNode& node);

private:
    friend class KaCTransformationNodeInner;
    friend class KaCTransformationNodeLeaf;

    // Descent rule: an inner node with children and without model.
    static bool descendsIntoUncached(const KaCTransformationNode& node);
};
