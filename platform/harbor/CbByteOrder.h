#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Conversion of arithmetic values to and from their little-endian byte form, the encoding
// of every binary stream of the project.
namespace CbByteOrder {

template <class T>
inline T byteSwap(T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T) / 2; ++i) {
        unsigned char t = bytes[i];
        bytes[i] = bytes[sizeof(T) - 1 - i];
        bytes[sizeof(T) - 1 - i] = t;
    }
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

template <class T>
inline void store(void* destination, T value) {
    if constexpr (std::endian::native == std::endian::big) {
        value = byteSwap(value);
    }
    std::memcpy(destination, &value, sizeof(T));
}

template <class T>
inline T load(const void* source) {
    T value;
    std::memcpy(&value, source, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        value = byteSwap(value);
    }
    return value;
}

}  // namespace CbByteOrder
