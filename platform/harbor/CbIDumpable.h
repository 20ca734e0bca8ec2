#pragma once

class CbStreamWriteASCII;

// An object that writes a text dump of itself. The template argument selects one of
// several dump interfaces a class might carry.
template <int Slot>
class CbIDumpable {
public:
    virtual ~CbIDumpable() = default;
    virtual void dump(CbStreamWriteASCII& stream) const = 0;
};
