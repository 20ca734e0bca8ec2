#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Read access to one attribute of the surfels of a container: a pointer to the first
// element, the distance in bytes between consecutive elements and the number of surfels.
// Elements are read by copying their bytes, so any stride and alignment is valid.
// Valid while the container lives and is not resized; const use from several threads is
// safe. Indexing does not check its argument: the index must be below GetNrSurfels().
template <class T>
class KaTSurfelAccessor {
    static_assert(std::is_trivially_copyable_v<T>, "accessors copy elements as bytes");

public:
    KaTSurfelAccessor() = default;
    KaTSurfelAccessor(const void* data, size_t stride, uint32_t count)
        : m_data(static_cast<const unsigned char*>(data)), m_stride(stride), m_count(count) {}

    T operator[](uint32_t index) const {
        T value;
        std::memcpy(static_cast<void*>(&value), m_data + static_cast<size_t>(index) * m_stride,
                    sizeof(T));
        return value;
    }

    const void* GetData() const { return m_data; }
    size_t GetStride() const { return m_stride; }
    uint32_t GetNrSurfels() const { return m_count; }

private:
    const unsigned char* m_data = nullptr;
    size_t m_stride = 0;
    uint32_t m_count = 0;
};
