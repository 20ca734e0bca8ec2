#include "platform/velmar/VelmarDepthImage.h"

#include <utility>

CB_DEFINE_RTTI(VelmarDepthImage, &KaCModelCCT::RTTI, &VelmarDepthImage::CreateByFactory,
               &VelmarDepthImage::CloneByFactory)

VelmarDepthImage::VelmarDepthImage(CbSmartPointer<KaCSurfelCollectionCCT> collection,
                                   bool updateBoundingBox)
    : KaCModelCCT(std::move(collection), updateBoundingBox) {}

CbSmartPointer<VelmarDepthImage> VelmarDepthImage::Create(
    CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox) {
    return CbSmartPointer<VelmarDepthImage>(
        new VelmarDepthImage(std::move(collection), updateBoundingBox));
}
