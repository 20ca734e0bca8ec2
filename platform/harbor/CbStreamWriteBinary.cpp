#include "platform/harbor/CbStreamWriteBinary.h"

#include <vector>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStringConversion.h"

template <class T>
void CbStreamWriteBinary::writeLittleEndian(T value) {
    unsigned char bytes[sizeof(T)];
    CbByteOrder::store(bytes, value);
    WriteBytes(bytes, sizeof(T));
}

void CbStreamWriteBinary::WriteVersion(uint32_t version) {
    writeLittleEndian(version);
}
void CbStreamWriteBinary::WriteBool(bool value) {
    writeLittleEndian<uint8_t>(value ? 1 : 0);
}
void CbStreamWriteBinary::WriteUInt8(uint8_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteUInt16(uint16_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteInt32(int32_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteUInt32(uint32_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteInt64(int64_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteUInt64(uint64_t value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteFloat(float value) {
    writeLittleEndian(value);
}
void CbStreamWriteBinary::WriteDouble(double value) {
    writeLittleEndian(value);
}

void CbStreamWriteBinary::WriteWideString(const std::wstring& value) {
    // Short strings of the basic plane (each character one UTF-16 unit, as most are) go out
    // in one block assembled here: the count and the units.
    constexpr size_t c_shortUnits = 128;
    if (value.size() <= c_shortUnits) {
        unsigned char record[4 + 2 * c_shortUnits];
        CbByteOrder::store(record, static_cast<uint32_t>(value.size()));
        bool basic = true;
        for (size_t i = 0; i < value.size() && basic; ++i) {
            const auto c = static_cast<uint32_t>(value[i]);
            basic = c < 0x10000;
            CbByteOrder::store(record + 4 + 2 * i, static_cast<uint16_t>(c));
        }
        if (basic) {
            WriteBytes(record, 4 + 2 * value.size());
            return;
        }
    }
    std::vector<uint16_t> units;
    CbAppendUtf16(value, units);
    if (units.size() > UINT32_MAX) {
        CB_THROW(CbException,
                 "CbStreamWriteBinary::WriteWideString: string too long for the stream");
    }
    WriteUInt32(static_cast<uint32_t>(units.size()));
    WriteUInt16Array(units.data(), units.size());
}

void CbStreamWriteBinary::WriteBuffer(const void* data, uint64_t byteCount) {
    if (byteCount != 0) {
        WriteBytes(data, byteCount);
    }
}

void CbStreamWriteBinary::ExpectBytes(uint64_t /*byteCount*/) {}

void CbStreamWriteBinary::WriteFloatArray(const float* values, uint64_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        WriteBuffer(values, count * sizeof(float));
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            WriteFloat(values[i]);
        }
    }
}

void CbStreamWriteBinary::WriteUInt16Array(const uint16_t* values, uint64_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        WriteBuffer(values, count * sizeof(uint16_t));
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            WriteUInt16(values[i]);
        }
    }
}
