#pragma once

#include <cstdint>
#include <vector>

#include "platform/harbor/CbStreamWriteBinary.h"

// A binary write stream into memory. Used to serialise a sub-object into a block whose
// size is written ahead of it, and to build whole files before they are written.
class CbStreamWriteBinaryBuffer : public CbStreamWriteBinary {
public:
    CbStreamWriteBinaryBuffer() = default;
    explicit CbStreamWriteBinaryBuffer(uint64_t reserveBytes);

    void WriteBytes(const void* data, uint64_t count) override;
    // Reserves room for `byteCount` more bytes (see CbStreamWriteBinary).
    void ExpectBytes(uint64_t byteCount) override;
    uint64_t GetCount() const override { return m_data.size(); }

    // Replaces `count` bytes written before, from `offset` on (to fill in a length or a
    // checksum that is known only after what follows it); throws CbException for a range
    // beyond what was written.
    void Overwrite(uint64_t offset, const void* data, uint64_t count);

    const uint8_t* GetData() const { return m_data.data(); }
    const std::vector<uint8_t>& GetBuffer() const { return m_data; }
    std::vector<uint8_t> TakeBuffer() { return std::move(m_data); }
    void Clear() { m_data.clear(); }

private:
    // Reserves room for `byteCount` bytes in all; a large buffer is backed by huge pages
    // where the system offers them on request, so that filling it takes a page fault per
    // 2 MiB instead of per 4 KiB.
    void reserve(uint64_t byteCount);

    std::vector<uint8_t> m_data;
};
