#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the cached leaves of a subtree: leaves, and inner nodes that hold a model, whose
// subtrees the walk does not enter (their model stands for them). The traversal root
// itself is never one of them. Value type, not synchronised.
class KaCTransformationNode::KaNCachedLeafNodeIterator
    : public KaCTransformationNode::KaNLeafNodeIterator {
public:
    // The cached-leaf walk over the subtree of `root`: its first and last cached leaf, and
    // End. Begin passes over a first leaf without a model, on which a step may rest. On a
    // leaf the walk is single-leaf mode on that leaf.
    static KaNCachedLeafNodeIterator Begin(KaCTransformationNode& root);
    static KaNCachedLeafNodeIterator Last(KaCTransformationNode& root);
    static KaNCachedLeafNodeIterator End(KaCTransformationNode& root);

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
    // Descent rule: an inner node with children and without model.
    static bool descendsIntoUncached(const KaCTransformationNode& node);
};
