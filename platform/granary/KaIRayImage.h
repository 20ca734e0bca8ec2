#pragma once

#include "platform/harbor/IReferenceCounted.h"

// The ray image a surfel collection was measured from. The scan data layer only passes it
// along with a collection (as CbSmartPointer<KaIRayImage const>); scanner libraries
// implement it, deriving from CbReferenceCounted as well.
// Thread safety and exceptions are those of the implementation.
class KaIRayImage : public virtual IReferenceCounted {
public:
    ~KaIRayImage() override = default;
};
