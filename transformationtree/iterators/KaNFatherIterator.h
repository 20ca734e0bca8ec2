#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Climbs from the node a node iterator stands on to the traversal root: the node itself,
// then each ancestor with the accumulated transformation the walk computed for it, then
// End. `--` does nothing. Value type, not synchronised.
class KaCTransformationNode::KaNFatherIterator : public KaCTransformationNode::KaNNodeIterator {
public:
    explicit KaNFatherIterator(const KaNNodeIterator& start);
    KaNFatherIterator(const KaNFatherIterator& other) = default;
    KaNFatherIterator& operator=(const KaNFatherIterator& other) = default;
    ~KaNFatherIterator() = default;

    KaNFatherIterator& operator++() override;
    KaNFatherIterator& operator--() override;
};
