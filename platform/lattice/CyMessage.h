#pragma once

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/IObject.h"

// Base of the messages that announce changes of shared data to the application. Messages
// are created on the heap, held by CbSmartPointer and immutable once posted, so any
// number of threads may read a posted message.
class CyMessage : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    ~CyMessage() override = default;

protected:
    CyMessage() = default;
};
