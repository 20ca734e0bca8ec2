#pragma once

// Root of the interfaces an object may hand out by name (see IExtendable).
class IExtensionInterface {
public:
    virtual ~IExtensionInterface() = default;
};
