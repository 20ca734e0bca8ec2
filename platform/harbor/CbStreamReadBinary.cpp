#include "platform/harbor/CbStreamReadBinary.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStringConversion.h"

template <class T>
T CbStreamReadBinary::readLittleEndian() {
    unsigned char bytes[sizeof(T)];
    ReadBytes(bytes, sizeof(T));
    return CbByteOrder::load<T>(bytes);
}

uint32_t CbStreamReadBinary::ReadVersion(uint32_t /*newestKnown*/) {
    return readLittleEndian<uint32_t>();
}
uint32_t CbStreamReadBinary::ReadAcceptedVersion(std::string_view record,
                                                 std::initializer_list<uint32_t> accepted,
                                                 const char* file, int line) {
    const uint32_t version = ReadVersion(std::max(accepted));
    if (std::find(accepted.begin(), accepted.end(), version) == accepted.end()) {
        throw CbExceptionWrongFileVersion(
            file, line, std::string(record) + ": unknown version " + std::to_string(version));
    }
    return version;
}

bool CbStreamReadBinary::ReadBool() {
    return readLittleEndian<uint8_t>() != 0;
}
uint8_t CbStreamReadBinary::ReadUInt8() {
    return readLittleEndian<uint8_t>();
}
uint16_t CbStreamReadBinary::ReadUInt16() {
    return readLittleEndian<uint16_t>();
}
int32_t CbStreamReadBinary::ReadInt32() {
    return readLittleEndian<int32_t>();
}
uint32_t CbStreamReadBinary::ReadUInt32() {
    return readLittleEndian<uint32_t>();
}
int64_t CbStreamReadBinary::ReadInt64() {
    return readLittleEndian<int64_t>();
}
uint64_t CbStreamReadBinary::ReadUInt64() {
    return readLittleEndian<uint64_t>();
}
float CbStreamReadBinary::ReadFloat() {
    return readLittleEndian<float>();
}
double CbStreamReadBinary::ReadDouble() {
    return readLittleEndian<double>();
}

std::wstring CbStreamReadBinary::ReadWideString() {
    uint32_t count = ReadCount(sizeof(uint16_t), "wide string");
    // Short strings are read without allocating for their units.
    constexpr uint32_t c_shortUnits = 128;
    if (count <= c_shortUnits) {
        uint16_t units[c_shortUnits];
        ReadUInt16Array(units, count);
        return CbFromUtf16(units, count);
    }
    std::vector<uint16_t> units(count);
    ReadUInt16Array(units.data(), count);
    return CbFromUtf16(units.data(), units.size());
}

void CbStreamReadBinary::ReadBuffer(void* data, uint64_t byteCount) {
    if (byteCount != 0) {
        ReadBytes(data, byteCount);
    }
}

const uint8_t* CbStreamReadBinary::ReadView(uint64_t /*byteCount*/) {
    return nullptr;
}

void CbStreamReadBinary::ReadFloatArray(float* values, uint64_t count) {
    RequireRemaining(count, sizeof(float), "float array");
    if constexpr (std::endian::native == std::endian::little) {
        ReadBuffer(values, count * sizeof(float));
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            values[i] = ReadFloat();
        }
    }
}

void CbStreamReadBinary::ReadUInt16Array(uint16_t* values, uint64_t count) {
    RequireRemaining(count, sizeof(uint16_t), "uint16 array");
    if constexpr (std::endian::native == std::endian::little) {
        ReadBuffer(values, count * sizeof(uint16_t));
    } else {
        for (uint64_t i = 0; i < count; ++i) {
            values[i] = ReadUInt16();
        }
    }
}

uint32_t CbStreamReadBinary::ReadCount(uint64_t minimumBytesPerElement, const char* what) {
    uint32_t count = ReadUInt32();
    RequireRemaining(count, minimumBytesPerElement, what);
    return count;
}

void CbStreamReadBinary::RequireRemaining(uint64_t count, uint64_t minimumBytesPerElement,
                                          const char* what) const {
    const uint64_t remaining = GetRemaining();
    // The same as count > remaining / size, without a division; a product beyond 64 bits
    // cannot fit either.
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(count, minimumBytesPerElement, &bytes) || bytes > remaining) {
        CB_THROW(CbException, std::string("corrupt stream: ") + (what ? what : "element") +
                                  " count " + std::to_string(count) + " at byte " +
                                  std::to_string(GetPosition()) + " cannot fit in the " +
                                  std::to_string(remaining) + " bytes left");
    }
}

void CbStreamReadBinary::Skip(uint64_t byteCount) {
    RequireRemaining(byteCount, 1, "skipped byte");
    if (ReadView(byteCount) != nullptr) {
        return;  // a stream over memory just moves on
    }
    unsigned char scratch[4096];
    while (byteCount > 0) {
        uint64_t chunk = byteCount < sizeof(scratch) ? byteCount : sizeof(scratch);
        ReadBytes(scratch, chunk);
        byteCount -= chunk;
    }
}
