#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/harbor/CbExceptionOutOfMemory.h"
#include "platform/harbor/CbHashKey.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

// A hash map keyed through CbHashKey<K>::Compute. Iteration visits every entry once in an
// unspecified order that stays fixed while the map is not changed. Allocation failure
// raises CbExceptionOutOfMemory.
//
// Not thread-safe: callers serialise access.
template <class K, class V>
class CbMap {
    struct Hasher {
        size_t operator()(const K& key) const { return CbHashKey<K>::Compute(key); }
    };
    using Map = std::unordered_map<K, V, Hasher>;

public:
    using iterator = typename Map::iterator;
    using const_iterator = typename Map::const_iterator;

    CbMap() = default;
    explicit CbMap(size_t bucketCount) { InitHashTable(bucketCount); }

    void InitHashTable(size_t bucketCount) {
        guard([&] { m_map.rehash(bucketCount); });
    }

    // True and the value when `key` is present.
    [[nodiscard]] bool Lookup(const K& key, V& value) const {
        auto it = m_map.find(key);
        if (it == m_map.end()) {
            return false;
        }
        value = it->second;
        return true;
    }
    const V* Find(const K& key) const {
        auto it = m_map.find(key);
        return it == m_map.end() ? nullptr : &it->second;
    }
    V* Find(const K& key) {
        auto it = m_map.find(key);
        return it == m_map.end() ? nullptr : &it->second;
    }
    bool Contains(const K& key) const { return m_map.find(key) != m_map.end(); }

    // The value of `key`, inserted value-initialised when absent.
    V& operator[](const K& key) {
        return guard([&]() -> V& { return m_map.try_emplace(key).first->second; });
    }
    void SetAt(const K& key, V value) { (*this)[key] = std::move(value); }
    // True when an entry was removed.
    bool RemoveKey(const K& key) { return m_map.erase(key) != 0; }
    void RemoveAll() { m_map.clear(); }

    size_t GetCount() const { return m_map.size(); }
    bool IsEmpty() const { return m_map.empty(); }

    iterator begin() { return m_map.begin(); }
    iterator end() { return m_map.end(); }
    const_iterator begin() const { return m_map.begin(); }
    const_iterator end() const { return m_map.end(); }

    // Stream form for maps whose keys and values the binary streams know (wide string,
    // 32-bit integers, double): version 0, an unsigned 32-bit count, then key and value
    // of each entry. Entries are written in ascending key order, so that the same map
    // gives the same bytes whatever the hash table's order. Reading empties the map
    // first; for a repeated key the last entry wins.
    void Serialize(CbStreamWriteBinary& stream) const {
        std::vector<const typename Map::value_type*> entries;
        entries.reserve(m_map.size());
        for (const auto& entry : m_map) {
            entries.push_back(&entry);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto* a, const auto* b) { return a->first < b->first; });
        stream.WriteVersion(0);
        stream.WriteUInt32(static_cast<uint32_t>(entries.size()));
        for (const auto* entry : entries) {
            write(stream, entry->first);
            write(stream, entry->second);
        }
    }
    void Serialize(CbStreamReadBinary& stream) {
        stream.ReadVersion(0);
        RemoveAll();
        uint32_t count = stream.ReadCount(minimumSize<K>() + minimumSize<V>(), "map entry");
        for (uint32_t i = 0; i < count; ++i) {
            K key = read<K>(stream);
            V value = read<V>(stream);
            (*this)[key] = std::move(value);
        }
    }

private:
    template <class F>
    decltype(auto) guard(F&& f) {
        try {
            return f();
        } catch (const std::bad_alloc&) {
            CB_THROW(CbExceptionOutOfMemory, "CbMap: out of memory");
        }
    }

    template <class T>
    static constexpr uint64_t minimumSize() {
        if constexpr (std::is_same_v<T, std::wstring>) {
            return 4;
        } else {
            return sizeof(T);
        }
    }
    template <class T>
    static void write(CbStreamWriteBinary& stream, const T& value) {
        if constexpr (std::is_same_v<T, std::wstring>) {
            stream.WriteWideString(value);
        } else if constexpr (std::is_same_v<T, double>) {
            stream.WriteDouble(value);
        } else if constexpr (std::is_same_v<T, int32_t>) {
            stream.WriteInt32(value);
        } else if constexpr (std::is_same_v<T, uint32_t>) {
            stream.WriteUInt32(value);
        } else {
            static_assert(sizeof(T) == 0, "CbMap::Serialize: unsupported type");
        }
    }
    template <class T>
    static T read(CbStreamReadBinary& stream) {
        if constexpr (std::is_same_v<T, std::wstring>) {
            return stream.ReadWideString();
        } else if constexpr (std::is_same_v<T, double>) {
            return stream.ReadDouble();
        } else if constexpr (std::is_same_v<T, int32_t>) {
            return stream.ReadInt32();
        } else if constexpr (std::is_same_v<T, uint32_t>) {
            return stream.ReadUInt32();
        } else {
            static_assert(sizeof(T) == 0, "CbMap::Serialize: unsupported type");
        }
    }

    Map m_map;
};
