#pragma once

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/ISerializable.h"

// Base of shared serialisable objects: ISerializable plus reference counting.
class CbASerializable : public ISerializable, public CbReferenceCounted {
public:
    ~CbASerializable() override = default;

protected:
    CbASerializable() = default;
    CbASerializable(const CbASerializable&) = default;
    CbASerializable& operator=(const CbASerializable&) = default;
};
