#pragma once

#include <cstdint>
#include <string>

#include "platform/harbor/CbStreamWrite.h"

// Binary write stream with typed operations. The encoding is fixed for every stream:
// little-endian; a version number is an unsigned 32-bit integer; bool is one byte (0 or
// 1); a wide string is an unsigned 32-bit count of UTF-16 code units followed by the
// units, little-endian. Concrete streams supply WriteBytes.
//
// Not thread-safe: one stream belongs to one writer.
class CbStreamWriteBinary : public CbStreamWrite {
public:
    ~CbStreamWriteBinary() override = default;

    virtual void WriteVersion(uint32_t version);
    virtual void WriteBool(bool value);
    virtual void WriteUInt8(uint8_t value);
    virtual void WriteUInt16(uint16_t value);
    virtual void WriteInt32(int32_t value);
    virtual void WriteUInt32(uint32_t value);
    virtual void WriteInt64(int64_t value);
    virtual void WriteUInt64(uint64_t value);
    virtual void WriteFloat(float value);
    virtual void WriteDouble(double value);
    virtual void WriteWideString(const std::wstring& value);
    // Raw bytes, as they are.
    virtual void WriteBuffer(const void* data, uint64_t byteCount);
    // Tells the stream that about `byteCount` more bytes are coming, so that a stream into
    // memory can make room for them at once instead of growing step by step. Only a hint:
    // writing more or fewer is fine. Streams that cannot use it ignore it.
    virtual void ExpectBytes(uint64_t byteCount);

    // Arrays of values in the stream's encoding, for bulk data.
    void WriteFloatArray(const float* values, uint64_t count);
    void WriteUInt16Array(const uint16_t* values, uint64_t count);

private:
    template <class T>
    void writeLittleEndian(T value);
};
