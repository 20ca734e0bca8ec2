#pragma once

#include <vector>

#include "platform/harbor/IObject.h"
#include "transformationtree/nodevectors/KaCNodeAccelerated.h"
#include "transformationtree/nodevectors/KaCNodeVectorOperations.h"

// A subtree flattened into an indexable sequence of elements (node, model, surfel
// collection, transformation into one common frame, cached revisions), for consumers that
// visit the nodes of a subtree many times. Every standard vector operation is part of the
// interface. Filled from a subtree with a node, leaf or cached-leaf walk, extended node by
// node, sorted by acquisition order, written and read with nodes stored by reference.
//
// The typed layer of the node vector classes, which differ only in their run-time type
// and the depth image class they collect (`Derived` supplies RTTI, ms_sourceFile and
// ms_sourceLine); everything else is KaCNodeVectorOperations.
//
// Not synchronised: the caller holds whatever protects the subtree while it is walked.
// Reading an unknown version throws CbExceptionWrongFileVersion naming the class's source
// file and leaves the vector unchanged; corrupt bytes throw CbException.
template <class Derived, class DepthImage>
class KaTNodeVector : public std::vector<KaCNodeAccelerated>, public IObject {
public:
    enum IteratorType {
        eLeafNodes = 0,
        eCachedLeafNodes = 1,
        eAllNodes = 2,
    };

    // Removes all elements, then AppendInnerNode.
    void SetInnerNode(CbSmartPointer<const KaCTransformationNode> node, IteratorType type,
                      const CbMatrix4Rd& trafo, unsigned int flags) {
        clear();
        AppendInnerNode(std::move(node), type, trafo, flags);
    }
    // Appends the nodes of `node`'s subtree in walk order, each with (its accumulated
    // transformation) × `trafo`; for each set bit i (0 or 1) of `flags` caches the subtree
    // revision of kind i. A null node or an unknown type appends nothing.
    void AppendInnerNode(CbSmartPointer<const KaCTransformationNode> node, IteratorType type,
                         const CbMatrix4Rd& trafo, unsigned int flags) {
        KaCNodeVectorOperations::AppendInnerNode(*this, std::move(node), type, trafo, flags);
    }
    // Appends one element with `trafo` as given; its cached revisions stay -1.
    void AddNode(CbSmartPointer<KaCTransformationNode> node, const CbMatrix4Rd& trafo) {
        emplace_back(std::move(node), trafo);
    }
    void SortBySequenceNumber() { KaCNodeVectorOperations::SortBySequenceNumber(*this); }
    // The models whose run-time type is exactly DepthImage, in element order; elements
    // without model are skipped.
    std::vector<CbSmartPointer<const DepthImage>> GetDepthImageVector() const {
        std::vector<CbSmartPointer<const DepthImage>> images;
        for (const KaCNodeAccelerated& element : *this) {
            if (element.model && element.model->GetRTTI().Is(DepthImage::RTTI)) {
                images.push_back(CbStaticCast<const DepthImage>(element.model));
            }
        }
        return images;
    }

    virtual void Serialize(CbStreamWriteBinary& stream) const {
        KaCNodeVectorOperations::Write(*this, stream);
    }
    virtual void Serialize(CbStreamReadBinary& stream) {
        KaCNodeVectorOperations::Read(*this, stream, Derived::ms_sourceFile,
                                      Derived::ms_sourceLine);
    }

protected:
    KaTNodeVector() = default;
    KaTNodeVector(const KaTNodeVector&) = default;
    KaTNodeVector& operator=(const KaTNodeVector&) = default;
    ~KaTNodeVector() override = default;
};
