#pragma once

#include <cstdint>
#include <vector>

#include "platform/harbor/CbStreamReadBinary.h"

// A binary read stream over bytes in memory. Either views bytes the caller keeps alive,
// or owns a buffer handed to it.
class CbStreamReadBinaryBuffer : public CbStreamReadBinary {
public:
    // Views `size` bytes at `data`; the caller keeps them alive while the stream is used.
    CbStreamReadBinaryBuffer(const void* data, uint64_t size);
    // Owns the bytes.
    explicit CbStreamReadBinaryBuffer(std::vector<uint8_t> bytes);
    CbStreamReadBinaryBuffer(const CbStreamReadBinaryBuffer&) = delete;
    CbStreamReadBinaryBuffer& operator=(const CbStreamReadBinaryBuffer&) = delete;

    void ReadBytes(void* data, uint64_t count) override;
    const uint8_t* ReadView(uint64_t count) override;
    uint64_t GetRemaining() const override { return m_size - m_position; }
    uint64_t GetPosition() const override { return m_position; }

private:
    [[noreturn]] void truncated(uint64_t count) const;

    std::vector<uint8_t> m_owned;
    const uint8_t* m_data;
    uint64_t m_size;
    uint64_t m_position = 0;
};
