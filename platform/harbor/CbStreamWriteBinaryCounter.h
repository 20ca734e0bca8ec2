#pragma once

#include <cstdint>

#include "platform/harbor/CbStreamWriteBinary.h"

// A binary write stream that keeps nothing and only counts the bytes written to it: a record
// is serialised into it first to learn its size, so that the size can be written ahead of
// the record and the record then written straight into its destination, without a copy in
// an intermediate buffer.
class CbStreamWriteBinaryCounter : public CbStreamWriteBinary {
public:
    void WriteBytes(const void* /*data*/, uint64_t count) override { m_count += count; }
    uint64_t GetCount() const override { return m_count; }

private:
    uint64_t m_count = 0;
};
