#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>

#include "platform/harbor/CbSmartPointer.h"

// The hash of a map key. Specialise Compute for key types that need their own hash; the
// default serves integers, enumerations, pointers and strings.
template <class K>
struct CbHashKey {
    static size_t Compute(const K& key) { return std::hash<K>()(key); }
};

template <class T>
struct CbHashKey<CbSmartPointer<T>> {
    static size_t Compute(const CbSmartPointer<T>& key) {
        return std::hash<const void*>()(key.Get());
    }
};
