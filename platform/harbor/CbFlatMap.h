#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/harbor/CbExceptionOutOfMemory.h"
#include "platform/harbor/CbHashKey.h"

// The default hash of CbFlatMap: CbHashKey<K>::Compute.
template <class K>
struct CbFlatMapHash {
    size_t operator()(const K& key) const { return CbHashKey<K>::Compute(key); }
};

// A hash map with open addressing and linear probing: entries live in one array of slots,
// so a lookup touches one or two cache lines instead of chasing a bucket list, and filling
// the map allocates only when it grows (or never, after Reserve). Built for mapping many
// keys that are inserted once and looked up often, such as the IDs of a stream's records.
//
// Entries cannot be removed one by one, only all at once (Clear), which for entries without
// destructors takes constant time: a slot is full when it carries the map's current epoch,
// and clearing moves the epoch on. The table holds at most
// half as many entries as slots; the slot of a key is taken from the high bits of the
// key's hash multiplied by a large odd constant, so hashes that differ only in their high
// or only in their low bits (pointers, counters) still spread. Iteration (ForEach) visits
// every entry once in slot order, which stays fixed while the map is not changed.
// References to values stay valid until the next insertion that grows the table, or Clear.
// Allocation failure raises CbExceptionOutOfMemory and leaves the map as it was.
//
// Not thread-safe: callers serialise access.
template <class K, class V, class Hash = CbFlatMapHash<K>>
class CbFlatMap {
public:
    CbFlatMap() = default;
    ~CbFlatMap() { destroyAll(); }
    CbFlatMap(const CbFlatMap&) = delete;
    CbFlatMap& operator=(const CbFlatMap&) = delete;
    CbFlatMap(CbFlatMap&& other) noexcept { swap(other); }
    CbFlatMap& operator=(CbFlatMap&& other) noexcept {
        if (this != &other) {
            CbFlatMap moved(std::move(other));
            swap(moved);
        }
        return *this;
    }

    size_t GetCount() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }
    // Slots in the table (a power of two, or 0 before the first insertion).
    size_t GetCapacity() const { return m_capacity; }

    // Makes room for `count` entries in all, so that inserting up to that many allocates
    // nothing more.
    void Reserve(size_t count) {
        size_t capacity = m_capacity == 0 ? c_minimumCapacity : m_capacity;
        while (capacity / 2 < count) {
            if (capacity > (SIZE_MAX / 4) / sizeof(Slot)) {
                CB_THROW(CbExceptionOutOfMemory, "CbFlatMap: too many entries");
            }
            capacity *= 2;
        }
        if (capacity != m_capacity) {
            rehash(capacity);
        }
    }

    // The value of `key`, inserted value-initialised when absent.
    V& operator[](const K& key) { return *TryEmplace(key).first; }

    // The value of `key` and true when it was inserted (from `args`), or the value already
    // there and false.
    template <class... Args>
    std::pair<V*, bool> TryEmplace(const K& key, Args&&... args) {
        if (m_count + 1 > m_capacity / 2) {
            Reserve(m_count + 1);
        }
        size_t index = slotOf(key);
        while (isFull(m_slots[index])) {
            Slot& slot = m_slots[index];
            if (slot.key() == key) {
                return {&slot.value(), false};
            }
            index = (index + 1) & (m_capacity - 1);
        }
        Slot& slot = m_slots[index];
        new (&slot.storage) Entry(std::piecewise_construct, std::forward_as_tuple(key),
                                  std::forward_as_tuple(std::forward<Args>(args)...));
        slot.epoch = m_epoch;
        ++m_count;
        return {&slot.value(), true};
    }

    // The value of `key`, or null.
    V* Find(const K& key) { return const_cast<V*>(std::as_const(*this).Find(key)); }
    const V* Find(const K& key) const {
        if (m_count == 0) {
            return nullptr;
        }
        size_t index = slotOf(key);
        while (isFull(m_slots[index])) {
            const Slot& slot = m_slots[index];
            if (slot.key() == key) {
                return &slot.value();
            }
            index = (index + 1) & (m_capacity - 1);
        }
        return nullptr;
    }
    bool Contains(const K& key) const { return Find(key) != nullptr; }
    // Starts loading the slot where `key` would be looked up first, so that a later lookup
    // or insertion of it does not wait for memory: callers that know their next keys
    // prefetch a few ahead. Changes nothing.
    void Prefetch(const K& key) const {
        if (m_capacity != 0) {
            __builtin_prefetch(&m_slots[slotOf(key)]);
        }
    }

    // Removes every entry and keeps the table, so that filling the map again to the same
    // size allocates nothing.
    void Clear() {
        destroyAll();
        m_count = 0;
        if (++m_epoch == 0) {
            // After 2^32 clears: empty every slot once, and count again.
            for (size_t i = 0; i < m_capacity; ++i) {
                m_slots[i].epoch = 0;
            }
            m_epoch = 1;
        }
    }
    // Removes every entry and frees the table.
    void Release() {
        CbFlatMap empty;
        swap(empty);
    }

    // Calls f(key, value) for every entry.
    template <class F>
    void ForEach(F&& f) const {
        for (size_t i = 0; i < m_capacity; ++i) {
            if (isFull(m_slots[i])) {
                f(m_slots[i].key(), m_slots[i].value());
            }
        }
    }

    void swap(CbFlatMap& other) noexcept {
        std::swap(m_slots, other.m_slots);
        std::swap(m_capacity, other.m_capacity);
        std::swap(m_count, other.m_count);
        std::swap(m_shift, other.m_shift);
        std::swap(m_epoch, other.m_epoch);
    }

private:
    using Entry = std::pair<K, V>;
    // Growing moves entries; a move that could throw half way would lose entries.
    static_assert(std::is_nothrow_move_constructible_v<Entry>);
    // The epoch lives in the slot, so that a probe reads one cache line.
    struct Slot {
        alignas(Entry) unsigned char storage[sizeof(Entry)];
        uint32_t epoch = 0;  // full when it is the map's m_epoch, which is never 0
        Entry& entry() { return *std::launder(reinterpret_cast<Entry*>(storage)); }
        const Entry& entry() const {
            return *std::launder(reinterpret_cast<const Entry*>(storage));
        }
        const K& key() const { return entry().first; }
        V& value() { return entry().second; }
        const V& value() const { return entry().second; }
    };

    static constexpr size_t c_minimumCapacity = 16;

    size_t slotOf(const K& key) const {
        const uint64_t mixed = static_cast<uint64_t>(Hash()(key)) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(mixed >> m_shift);
    }

    bool isFull(const Slot& slot) const { return slot.epoch == m_epoch; }

    // Destroys the entries, leaving their slots to Clear or the destructor.
    void destroyAll() {
        if (m_count == 0 || std::is_trivially_destructible_v<Entry>) {
            return;  // nothing to visit, however large the table
        }
        for (size_t i = 0; i < m_capacity; ++i) {
            if (isFull(m_slots[i])) {
                m_slots[i].entry().~Entry();
            }
        }
    }

    // Moves every entry into a table of `capacity` slots. Entries are moved only after the
    // new table exists, so a failed allocation leaves the map unchanged.
    void rehash(size_t capacity) {
        std::unique_ptr<Slot[]> slots;
        try {
            slots.reset(new Slot[capacity]);
        } catch (const std::bad_alloc&) {
            CB_THROW(CbExceptionOutOfMemory, "CbFlatMap: out of memory");
        }
        int shift = 64;
        for (size_t c = capacity; c > 1; c /= 2) {
            --shift;
        }
        std::swap(slots, m_slots);
        const size_t oldCapacity = m_capacity;
        const uint32_t oldEpoch = m_epoch;
        m_capacity = capacity;
        m_shift = shift;
        m_epoch = 1;
        for (size_t i = 0; i < oldCapacity; ++i) {
            if (slots[i].epoch != oldEpoch) {
                continue;
            }
            Entry& entry = slots[i].entry();
            size_t index = slotOf(entry.first);
            while (isFull(m_slots[index])) {
                index = (index + 1) & (m_capacity - 1);
            }
            new (&m_slots[index].storage) Entry(std::move(entry));
            m_slots[index].epoch = m_epoch;
            entry.~Entry();
            slots[i].epoch = 0;
        }
    }

    std::unique_ptr<Slot[]> m_slots;
    size_t m_capacity = 0;
    size_t m_count = 0;
    int m_shift = 64;
    uint32_t m_epoch = 1;
};
