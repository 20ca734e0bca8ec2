#pragma once

#include <cstdint>

// A sequential source of bytes of known remaining length, so that readers can reject a
// count that cannot fit in what is left before they allocate for it.
class CbStreamRead {
public:
    virtual ~CbStreamRead() = default;
    // Reads exactly `count` bytes; throws CbException when fewer are left.
    virtual void ReadBytes(void* data, uint64_t count) = 0;
    // Bytes left to read.
    virtual uint64_t GetRemaining() const = 0;
    // Bytes read so far.
    virtual uint64_t GetPosition() const = 0;
};
