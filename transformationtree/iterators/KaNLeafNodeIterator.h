#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the leaves of a subtree in walk order, with their accumulated transformations.
// Rests only on leaves; inner nodes are passed inside a step. A default-constructed one is
// End. Value type, not synchronised; the tree must not change while it is used.
class KaCTransformationNode::KaNLeafNodeIterator : public KaCTransformationNode::KaNNodeIterator {
public:
    // The leaf walk over the subtree of `root`: its first leaf, its last leaf, End. On a
    // leaf the walk is single-leaf mode on that leaf.
    static KaNLeafNodeIterator Begin(KaCTransformationNode& root);
    static KaNLeafNodeIterator Last(KaCTransformationNode& root);
    static KaNLeafNodeIterator End(KaCTransformationNode& root);
    // Stands on `leaf` when it lies in the subtree of `root`, otherwise End.
    static KaNLeafNodeIterator Find(KaCTransformationNodeInner& root,
                                    const KaCTransformationNodeLeaf* leaf);

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
    // Whether a filtered walk may rest on a node.
    using RestRule = bool (*)(const KaCTransformationNode& node);

    // Descent rule of the leaf walk: any inner node with children.
    static bool descendsInto(const KaCTransformationNode& node);
    static bool isLeaf(const KaCTransformationNode& node);
    // Starts a filtered walk of the inner node `root`: down the first (last) children as
    // `rule` allows; when the node reached is not one that `rests` accepts, one step on.
    void startFiltered(KaCTransformationNode& root, DescentRule rule, RestRule rests,
                       Direction direction);
    // The first (forward) or last (backward) leaf of the subtree of `root`.
    static KaNLeafNodeIterator startLeafWalk(KaCTransformationNode& root, Direction direction);
    // Repeats sibling moves by `rule` until End or a node that `rests` accepts.
    void moveUntil(Direction direction, DescentRule rule, RestRule rests);
};
