#pragma once

#include "platform/granary/KaCModelCCT.h"

// The model of one depth image of the Velmar scanner. It adds nothing to KaCModelCCT but
// its own run-time type, so that consumers can tell its scans apart; it is a sibling of
// CCT_DepthImage, not a kind of it.
// Thread safety and exceptions are those of KaCModelCCT.
class VelmarDepthImage : public KaCModelCCT {
    CB_DECLARE_RTTI()

public:
    static CbSmartPointer<VelmarDepthImage> Create(
        CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox);
    ~VelmarDepthImage() override = default;

protected:
    VelmarDepthImage() = default;
    // As KaCModelCCT's constructor.
    VelmarDepthImage(CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox);
    VelmarDepthImage(const VelmarDepthImage& other) = default;

private:
    CB_DECLARE_FACTORIES(VelmarDepthImage)
};
