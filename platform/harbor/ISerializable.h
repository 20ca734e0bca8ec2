#pragma once

#include "platform/harbor/IObject.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A run-time typed object that writes itself to and reads itself from binary streams.
class ISerializable : public IObject {
public:
    ~ISerializable() override = default;
    virtual void Serialize(CbStreamWriteBinary& stream) const = 0;
    virtual void Serialize(CbStreamReadBinary& stream) = 0;
};
