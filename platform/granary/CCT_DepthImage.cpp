#include "platform/granary/CCT_DepthImage.h"

#include <utility>

CB_DEFINE_RTTI(CCT_DepthImage, &KaCModelCCT::RTTI, &CCT_DepthImage::CreateByFactory,
               &CCT_DepthImage::CloneByFactory)

CCT_DepthImage::CCT_DepthImage(CbSmartPointer<KaCSurfelCollectionCCT> collection,
                               bool updateBoundingBox)
    : KaCModelCCT(std::move(collection), updateBoundingBox) {}

CbSmartPointer<CCT_DepthImage> CCT_DepthImage::Create(
    CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox) {
    return CbSmartPointer<CCT_DepthImage>(
        new CCT_DepthImage(std::move(collection), updateBoundingBox));
}

void CCT_DepthImage::Compress(int level) {
    if (level <= 0) {
        return;
    }
    for (KaCSurfelCollectionCCT* collection : getDistinctCollections()) {
        collection->ShrinkToFit();
    }
}
