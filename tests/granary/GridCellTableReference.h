#pragma once

// A frozen copy of KaTGridCellTable as it was before its cache misses were overlapped (renamed,
// otherwise unchanged): the reference GridSamplerMatchesReferenceTest compares the sampler
// with, bit by bit. Leave it as it is.

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/granary/KaTSurfelBuffer.h"
#include "platform/harbor/CbException.h"

// The cell index of the grid sampler: an open-addressing hash table (linear probing, a
// power-of-two number of slots, at most half of them used) from cell keys to cell numbers.
// Slots hold the key and the number side by side, so that a look-up touches one cache line;
// they live in one flat array from KaCSurfelMemoryPool, never in nodes. Reserve sizes the
// table ahead, so that a pass that stays within the reservation never rehashes.
// `Hash` maps a key to 64 well-mixed bits; the table uses the highest ones.
// Not thread-safe for writing; const use from several threads is safe. Allocation failure
// throws CbExceptionOutOfMemory; more than 2^31 keys throw CbException.
template <class Key, class Hash>
class GridCellTableReference {
public:
    // A number never stored: marks free slots.
    static constexpr uint32_t ms_free = UINT32_MAX;

    struct Slot {
        Key key;
        uint32_t number;
    };

    uint32_t Size() const { return m_size; }
    size_t Capacity() const { return m_slots.Size(); }

    // Room for `keys` keys in all without rehashing.
    void Reserve(size_t keys) {
        if (keys > (size_t{1} << 31)) {
            CB_THROW(CbException, "GridCellTableReference: more than 2^31 cells");
        }
        size_t capacity = 16;
        while (capacity < 2 * keys) {
            capacity *= 2;
        }
        if (capacity > m_slots.Size()) {
            rehash(capacity);
        }
    }

    // The number stored with `key`; a new key is stored with `next`, which is returned (the
    // caller tells a new key by that). `next` must not be ms_free.
    uint32_t FindOrInsert(const Key& key, uint32_t next) {
        if (m_slots.Size() == 0) {
            rehash(16);
        }
        Slot* slots = m_slots.Data();
        size_t at = home(key);
        // Past the slots of other keys; then the slot is this key's or a free one. Which
        // of the two is unpredictable, so it is settled by selects, not by a branch.
        while (slots[at].number != ms_free && !(slots[at].key == key)) {
            at = (at + 1) & m_mask;
        }
        const bool isNew = slots[at].number == ms_free;
        const uint32_t number = isNew ? next : slots[at].number;
        slots[at].key = key;
        slots[at].number = number;
        m_size += isNew ? 1 : 0;
        if (2 * size_t{m_size} > m_slots.Size()) {
            Reserve(m_size);
        }
        return number;
    }

    // Calls visit(key, number) for every stored key, in slot order.
    template <class Visit>
    void ForEach(Visit&& visit) const {
        const Slot* slots = m_slots.Data();
        for (size_t at = 0; at < m_slots.Size(); ++at) {
            if (slots[at].number != ms_free) {
                visit(slots[at].key, slots[at].number);
            }
        }
    }

    // Forgets every key, keeping the slots.
    void Clear() {
        Slot* slots = m_slots.Data();
        for (size_t at = 0; at < m_slots.Size(); ++at) {
            slots[at].number = ms_free;
        }
        m_size = 0;
    }

    // Gives the slots back.
    void Release() {
        KaTSurfelBuffer<Slot>().Swap(m_slots);
        m_size = 0;
        m_mask = 0;
        m_shift = 64;
    }

private:
    size_t home(const Key& key) const { return static_cast<size_t>(Hash()(key) >> m_shift); }

    void rehash(size_t capacity) {
        KaTSurfelBuffer<Slot> slots;
        slots.ResizeForOverwrite(capacity);
        Slot* fresh = slots.Data();
        for (size_t at = 0; at < capacity; ++at) {
            fresh[at].number = ms_free;
        }
        unsigned shift = 64;
        for (size_t c = capacity; c > 1; c /= 2) {
            --shift;
        }
        const size_t mask = capacity - 1;
        const Slot* old = m_slots.Data();
        for (size_t at = 0; at < m_slots.Size(); ++at) {
            if (old[at].number != ms_free) {
                size_t to = static_cast<size_t>(Hash()(old[at].key) >> shift);
                while (fresh[to].number != ms_free) {
                    to = (to + 1) & mask;
                }
                fresh[to] = old[at];
            }
        }
        m_slots.Swap(slots);
        m_mask = mask;
        m_shift = shift;
    }

    KaTSurfelBuffer<Slot> m_slots;
    uint32_t m_size = 0;
    size_t m_mask = 0;
    unsigned m_shift = 64;
};
