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
    uint64_t GetCount() const override { return m_data.size(); }

    const uint8_t* GetData() const { return m_data.data(); }
    const std::vector<uint8_t>& GetBuffer() const { return m_data; }
    std::vector<uint8_t> TakeBuffer() { return std::move(m_data); }
    void Clear() { m_data.clear(); }

private:
    std::vector<uint8_t> m_data;
};
