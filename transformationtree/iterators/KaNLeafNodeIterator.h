#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the leaves of a subtree in walk order, with their accumulated transformations.
// Rests only on leaves; inner nodes are passed inside a step. A default-constructed one is
// End. Value type, not synchronised; the tree must not change while it is used.
class KaCTransformationNode::KaNLeafNodeIterator : public KaCTransformationNode::KaNNodeIterator {
public:
    KaNLeafNodeIterator();
    KaNLeafNodeIterator(const KaNLeafNodeIterator& other) = default;
    KaNLeafNodeIterator& operator=(const KaNLeafNodeIterator& other) = default;
    ~KaNLeafNodeIterator() = default;

    KaNLeafNodeIterator& operator++() override;
    // The previous leaf, or End (also from the first leaf).
    KaNLeafNodeIterator& operator--() override;
    KaCTransformationNodeWithTrafo operator*() const override;
    explicit operator bool() const override;

    // The inner node whose child list holds the current leaf; the traversal root for its
    // children and at End; null in single-leaf mode.
    CbSmartPointer<KaCTransformationNodeInner> GetFather() const;

protected:
    friend class KaCTransformationNodeInner;
    friend class KaCTransformationNodeLeaf;

    // Descent rule of the leaf walk: any inner node with children.
    static bool descendsInto(const KaCTransformationNode& node);
    // Repeats moves by `rule` until End or a node that `rests` accepts.
    void forwardUntil(DescentRule rule, bool (*rests)(const KaCTransformationNode&));
    void backwardUntil(DescentRule rule, bool (*rests)(const KaCTransformationNode&));
    static bool isLeaf(const KaCTransformationNode& node);
};
