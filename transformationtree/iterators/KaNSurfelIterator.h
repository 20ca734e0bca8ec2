#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Visits every surfel of every leaf below a node, in leaf order and, within a leaf, in
// index order, and tells the transformation of the leaf it is in (the leaf's accumulated
// transformation when obtained from an inner node, the identity when obtained from a
// leaf). Surfel data are read as stored, in the leaf's frame: GetContainer() and
// GetSurfelIndex() name the current surfel.
//
// The container reference is weak: replacing or dropping the model of the leaf being
// walked invalidates the iterator. A leaf whose collection has no surfels makes the
// iterator test false while it stands on it. Value type, not synchronised.
class KaCTransformationNode::KaNSurfelIterator {
public:
    // The first surfel below `root` (of `root` itself when it is a leaf).
    static KaNSurfelIterator Begin(KaCTransformationNode& root);

    explicit KaNSurfelIterator(CbWeakPointer<const KaCSurfelContainer> container);
    KaNSurfelIterator(const KaNSurfelIterator& other) = default;
    KaNSurfelIterator& operator=(const KaNSurfelIterator& other) = default;
    ~KaNSurfelIterator() = default;

    explicit operator bool() const;
    KaNSurfelIterator& operator++();
    // Same leaf position, surfel index and mode; the containers are not compared.
    bool operator==(const KaNSurfelIterator& other) const;
    bool operator!=(const KaNSurfelIterator& other) const { return !(*this == other); }
    // Valid until the iterator moves.
    const CbMatrix4Rd& GetTransformation() const;

    CbSmartPointer<const KaCSurfelContainer> GetContainer() const { return m_container.Lock(); }
    uint32_t GetSurfelIndex() const { return m_surfelIndex; }

private:
    KaNSurfelIterator() = default;
    // The weak reference to the type-2 collection of the model of `node`.
    static CbWeakPointer<const KaCSurfelContainer> containerOf(const KaCTransformationNode& node);

    KaNLeafNodeIterator m_current;
    KaNLeafNodeIterator m_end;
    CbWeakPointer<const KaCSurfelContainer> m_container;
    uint32_t m_surfelIndex = 0;
    bool m_singleLeafMode = false;
};
