#pragma once

#include <cstddef>
#include <string>

// A name slot that objects carry for diagnostics, with the memory the object uses. The
// first template argument selects one of several slots a class might carry, the second
// the string type.
template <int Slot, class String = std::wstring>
class CbIClassName {
public:
    virtual ~CbIClassName() = default;

    const String& GetName() const { return m_name; }
    void SetName(String name) { m_name = std::move(name); }
    virtual size_t GetMemoryUsage() const {
        return sizeof(*this) + m_name.capacity() * sizeof(typename String::value_type);
    }

private:
    String m_name;
};
