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

    // The typed reads load straight from memory, with one bounds check each, instead of
    // copying through ReadBytes; what they read and how they fail is the same.
    uint32_t ReadVersion(uint32_t newestKnown) override;
    bool ReadBool() override;
    uint8_t ReadUInt8() override;
    uint16_t ReadUInt16() override;
    int32_t ReadInt32() override;
    uint32_t ReadUInt32() override;
    int64_t ReadInt64() override;
    uint64_t ReadUInt64() override;
    float ReadFloat() override;
    double ReadDouble() override;

private:
    template <class T>
    T load();
    [[noreturn]] void truncated(uint64_t count) const;

    std::vector<uint8_t> m_owned;
    const uint8_t* m_data;
    uint64_t m_size;
    uint64_t m_position = 0;
};
