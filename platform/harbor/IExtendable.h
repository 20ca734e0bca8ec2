#pragma once

#include "platform/harbor/IExtensionInterface.h"
#include "platform/harbor/IReferenceCounted.h"

// An object that hands out further interfaces by name. An unknown name gives null, or
// throws CbExceptionUnknownExtension when `throwIfUnknown` is true.
class IExtendable : public IExtensionInterface, public virtual IReferenceCounted {
public:
    ~IExtendable() override = default;
    virtual const IExtensionInterface* GetExtension(const char* name,
                                                    bool throwIfUnknown) const = 0;
    virtual IExtensionInterface* GetExtension(const char* name, bool throwIfUnknown) = 0;
};
