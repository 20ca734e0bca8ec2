#pragma once

#include <cstdint>

// A sequential sink of bytes. Concrete streams decide where the bytes go.
class CbStreamWrite {
public:
    virtual ~CbStreamWrite() = default;
    // Writes `count` bytes; throws CbException when the sink fails.
    virtual void WriteBytes(const void* data, uint64_t count) = 0;
    // Bytes written so far.
    virtual uint64_t GetCount() const = 0;
};
