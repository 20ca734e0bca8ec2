#pragma once

#include "platform/harbor/CbReferenceCounter.h"

// Every shared object exposes its reference counter through this interface; smart and weak
// pointers reach the counter only through it, so any class may choose where it keeps it.
class IReferenceCounted {
public:
    virtual ~IReferenceCounted() = default;
    virtual CbReferenceCounter& getReferenceCounter() const = 0;
};
