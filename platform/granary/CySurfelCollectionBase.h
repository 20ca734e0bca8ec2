#pragma once

#include <cstdint>

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/IObject.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A run-time typed, shared collection of surfels as attributes hold it: they know only this
// base, and create, clone and serialise the concrete collection through its class name
// (CbCreateByName / CbCloneByName) and its own Serialize. Abstract: no create function.
// Thread safety is that of the concrete class (const use from several threads is safe for
// the collections of this library); readers throw CbException for bad input.
class CySurfelCollectionBase : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    ~CySurfelCollectionBase() override = default;

    virtual uint32_t GetNrSurfels() const = 0;
    virtual void Serialize(CbStreamWriteBinary& stream) const = 0;
    virtual void Serialize(CbStreamReadBinary& stream) = 0;

protected:
    CySurfelCollectionBase() = default;
    CySurfelCollectionBase(const CySurfelCollectionBase&) = default;
    CySurfelCollectionBase& operator=(const CySurfelCollectionBase&) = default;
};
