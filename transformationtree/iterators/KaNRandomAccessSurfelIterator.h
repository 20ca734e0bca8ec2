#pragma once

// Included by KaCTransformationNode.h; include that header instead.

// Numbers all surfels below a node from 0 (leaf order, then index order) and answers
// per-surfel queries by that number, in the leaf's frame; GetTransformation(i) is the
// leaf's accumulated transformation at the time the iterator was made (the identity when
// made from a leaf). A snapshot of the leaves' models and transformations: later changes
// of the tree are not seen, the surfel data are read from the models at each query.
//
// Look-up is constant time for consecutive numbers in one image and logarithmic
// otherwise. Made from the tree's pre-order snapshot (see KaCPreorderWalkCache), built
// first when it is not current; the transformations are those of the leaf walk, bit for
// bit. A query with a number not below GetNrOfOverallSurfels() throws
// CbExceptionPreconditionViolation. The look-up cache is updated by const queries, so one
// instance is not to be queried by two threads at once; copies may be.
class KaCTransformationNode::KaNRandomAccessSurfelIterator {
public:
    using Normal =
        KaTQuantizedNormalMultiLevel<CbVector3f, 7, KaTQuantizedNormalMultiLevelTraitsFast>;

    // A snapshot of the leaves below `root` (of `root` itself when it is a leaf, with the
    // identity as its transformation).
    static KaNRandomAccessSurfelIterator Of(KaCTransformationNode& root);

    KaNRandomAccessSurfelIterator() = default;
    KaNRandomAccessSurfelIterator(const KaNRandomAccessSurfelIterator& other) = default;
    KaNRandomAccessSurfelIterator& operator=(const KaNRandomAccessSurfelIterator& other) = default;
    ~KaNRandomAccessSurfelIterator() = default;

    const unsigned int& GetNrOfOverallSurfels() const { return m_nrOfOverallSurfels; }
    CbVector3f GetPosition(unsigned int i) const;
    Normal GetNormal(unsigned int i) const;
    KaCCompressedColor GetColor(unsigned int i) const;
    unsigned char GetCurvature(unsigned int i) const;
    // 1.0 for a collection without quality values.
    float GetQuality(unsigned int i) const;
    unsigned char GetTissueType(unsigned int i) const;
    bool GetBoundaryFlag(unsigned int i) const;
    const CbMatrix4Rd& GetTransformation(unsigned int i) const;

    // Entry k is the number of the first surfel of image k; the last entry is the total.
    const std::vector<unsigned int>& GetFirstSurfelIndices() const { return m_firstSurfelIndices; }

private:
    struct Image {
        CbSmartPointer<const KaCModelCCT> model;
        CbMatrix4Rd trafo;
    };

    void addImage(CbSmartPointer<const KaCModelCCT> model, const CbMatrix4Rd& trafo);
    // Every leaf of the subtree at `rootIndex` of the tree's pre-order snapshot, with the
    // transformations the leaf walk would have made, into one reserved snapshot.
    void addImages(const KaCPreorderWalkCache& snapshot, uint32_t rootIndex);
    void finish();
    unsigned int surfelBelongsToImageIndex(unsigned int i) const;
    void getSurfelCollectionAndIndex(unsigned int i,
                                     CbSmartPointer<const KaCSurfelCollectionCCT>* collection,
                                     unsigned int* localIndex) const;

    std::vector<Image> m_images;
    std::vector<unsigned int> m_firstSurfelIndices;
    unsigned int m_nrOfOverallSurfels = 0;
    mutable unsigned int m_lastImageIndex = 0;
};
