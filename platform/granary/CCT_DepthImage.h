#pragma once

#include "platform/granary/KaCModelCCT.h"

// The model of one depth image of the scanner: a KaCModelCCT that can release the spare
// capacity of its collections (Compress).
// Thread safety and exceptions are those of KaCModelCCT; Compress changes the collections'
// memory (not their content) and needs exclusive access to the model and its collections.
class CCT_DepthImage : public KaCModelCCT {
    CB_DECLARE_RTTI()

public:
    static CbSmartPointer<CCT_DepthImage> Create(CbSmartPointer<KaCSurfelCollectionCCT> collection,
                                                 bool updateBoundingBox);
    ~CCT_DepthImage() override = default;

    // Level 0 or below does nothing; any positive level releases the memory the
    // collections reserve beyond their surfel counts. No surfel changes.
    void Compress(int level);

protected:
    CCT_DepthImage() = default;
    // As KaCModelCCT's constructor.
    CCT_DepthImage(CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox);
    CCT_DepthImage(const CCT_DepthImage& other) = default;

private:
    CB_DECLARE_FACTORIES(CCT_DepthImage)
};
