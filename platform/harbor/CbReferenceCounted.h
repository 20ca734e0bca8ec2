#pragma once

#include "platform/harbor/IReferenceCounted.h"

// The plain implementation of IReferenceCounted that the project's shared objects derive
// from. A copy of an object starts with a fresh counter: references belong to objects,
// not to values.
class CbReferenceCounted : public virtual IReferenceCounted {
public:
    CbReferenceCounter& getReferenceCounter() const override { return m_referenceCounter; }

protected:
    CbReferenceCounted() = default;
    CbReferenceCounted(const CbReferenceCounted&) {}
    CbReferenceCounted& operator=(const CbReferenceCounted&) { return *this; }
    ~CbReferenceCounted() override = default;

private:
    mutable CbReferenceCounter m_referenceCounter;
};
