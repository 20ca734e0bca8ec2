#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/granary/KaCSurfelKernels.h"
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
class KaTGridCellTable {
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
            CB_THROW(CbException, "KaTGridCellTable: more than 2^31 cells");
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
        // Past the slots of other keys; then the slot is this key's or a free one.
        uint32_t found = slots[at].number;
        while (!endsSearch(found == ms_free, slots[at].key == key)) {
            at = (at + 1) & m_mask;
            found = slots[at].number;
        }
        const bool isNew = found == ms_free;
        const uint32_t freshMask = 0u - static_cast<uint32_t>(isNew);
        const uint32_t number = (next & freshMask) | (found & ~freshMask);
        slots[at].key = key;
        slots[at].number = number;
        m_size += isNew ? 1 : 0;
        if (2 * size_t{m_size} > m_slots.Size()) {
            Reserve(m_size);
        }
        return number;
    }

    // FindOrInsert for `count` keys in turn, new keys numbered from `next` on: numbers[j]
    // and isNew[j] (1 for a key stored by this call's j-th look-up) for each; returns the
    // number after the last one given. The slots of keys `ahead` places on are fetched while
    // a key is looked up, so that the misses of keys in no order overlap. `next + count`
    // must stay below ms_free. (A key equal to the one before is searched for like any
    // other: a shortcut for it branches unpredictably on points in raster order and costs
    // more than the search, which finds the slot in the first-level cache.)
    uint32_t FindOrInsertAll(const Key* keys, size_t count, uint32_t next, size_t ahead,
                             uint32_t* numbers, uint8_t* isNew) {
        if (m_slots.Size() == 0) {
            rehash(16);
        }
        // The table's state in locals: stores to the slots cannot alias them there.
        Slot* slots = m_slots.Data();
        size_t mask = m_mask;
        unsigned shift = m_shift;
        size_t size = m_size;
        for (size_t j = 0; j < std::min(count, ahead); ++j) {
            KaCSurfelKernels::Prefetch(slots + (Hash()(keys[j]) >> shift), sizeof(Slot));
        }
        for (size_t j = 0; j < count; ++j) {
            if (j + ahead < count) {
                KaCSurfelKernels::Prefetch(slots + (Hash()(keys[j + ahead]) >> shift),
                                           sizeof(Slot));
            }
            size_t at = static_cast<size_t>(Hash()(keys[j]) >> shift);
            uint32_t found = slots[at].number;
            while (!endsSearch(found == ms_free, slots[at].key == keys[j])) {
                at = (at + 1) & mask;
                found = slots[at].number;
            }
            // A new key or a known one: unpredictable, so settled by masks, not a branch.
            const uint32_t fresh = found == ms_free ? 1u : 0u;
            const uint32_t freshMask = 0u - fresh;
            const uint32_t number = (next & freshMask) | (found & ~freshMask);
            slots[at].key = keys[j];
            slots[at].number = number;
            numbers[j] = number;
            isNew[j] = static_cast<uint8_t>(fresh);
            next += fresh;
            size += fresh;
            if (2 * size > mask + 1) {
                m_size = static_cast<uint32_t>(size);
                Reserve(size);
                slots = m_slots.Data();
                mask = m_mask;
                shift = m_shift;
            }
        }
        m_size = static_cast<uint32_t>(size);
        return next;
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
    // Whether a search ends at a slot: it is free, or holds the key. One branch on both:
    // compilers turn `free || same` (and even `free | same`) into two branches, the first
    // of which (new key or known one) mispredicts often; the empty asm makes them compute
    // the or as a value first.
    static bool endsSearch(bool isFree, bool isSame) {
        unsigned ends = static_cast<unsigned>(isFree) | static_cast<unsigned>(isSame);
#if defined(__GNUC__)
        asm("" : "+r"(ends));
#endif
        return ends != 0;
    }

    size_t home(const Key& key) const {
        return static_cast<size_t>(Hash()(key) >> m_shift);
    }

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
