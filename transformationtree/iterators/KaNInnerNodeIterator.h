#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Walks the inner nodes of a subtree, the traversal root first. Every step dereferences
// the node it passes (building a value with one 4x4 inversion), so a singular father
// transformation on the way throws CyExceptionNotInvertible from ++ or --. Value type,
// not synchronised.
class KaCTransformationNode::KaNInnerNodeIterator : public KaCTransformationNode::KaNNodeIterator {
public:
    // The inner-node walk over the subtree of `root`: standing on `root`, on the last inner
    // node in walk order, and End.
    static KaNInnerNodeIterator Begin(KaCTransformationNodeInner& root);
    static KaNInnerNodeIterator Last(KaCTransformationNodeInner& root);
    static KaNInnerNodeIterator End(KaCTransformationNodeInner& root);

    KaNInnerNodeIterator() = default;
    KaNInnerNodeIterator(const KaNInnerNodeIterator& other) = default;
    KaNInnerNodeIterator& operator=(const KaNInnerNodeIterator& other) = default;
    ~KaNInnerNodeIterator() = default;

    KaNInnerNodeIterator& operator++() override;
    KaNInnerNodeIterator& operator--() override;
    explicit operator bool() const override;

private:
    // True when the iterator may rest where it stands: End, at root, or on an inner node.
    bool restsHere() const;
};
