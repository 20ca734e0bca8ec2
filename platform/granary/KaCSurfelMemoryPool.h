#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// Where the memory of surfel arrays comes from. Writing a freshly mapped page for the first
// time costs a page fault (about 12 µs per 4 KiB page on the virtual machines we measure
// on, more than transforming the surfels that fill it), so surfel arrays avoid fresh pages:
//  - Blocks of GetHugeBlockThreshold() bytes (1 MiB) and more are mapped directly, rounded
//    up to whole 2 MiB huge pages, aligned to them and (when huge pages are on, the
//    default) marked for transparent huge pages, so that one fault maps 2 MiB, not 4 KiB.
//  - Blocks from GetMappedBlockThreshold() bytes (64 KiB) up to that are mapped directly
//    too, rounded up to whole 4 KiB pages (small pages: a huge page would waste memory).
//  - Freed mapped blocks are kept for reuse, up to GetCapacity() bytes in all (the oldest
//    released first when the bound is reached). A request takes the smallest kept block of
//    its kind (huge or small pages) that is large enough, splitting off what it does not
//    need; neighbouring kept blocks of a kind are joined again. Reused memory is not
//    faulted again.
//  - Smaller blocks come from the C++ heap and are not kept here.
// Memory handed out holds unspecified values and is at least 64-byte aligned. Under
// AddressSanitizer kept blocks, and the pages a block was rounded up by, are poisoned, so
// that a use after release or beyond the size asked for is reported.
//
// Thread safety: every operation may be called from any thread (one internal mutex, held
// only for bookkeeping, never while memory is mapped or unmapped).
// Throws: Allocate throws CbExceptionOutOfMemory when the memory cannot be had, also after
// giving every kept block back. Nothing else throws.
class KaCSurfelMemoryPool {
public:
    static constexpr size_t ms_hugePageSize = size_t{2} << 20;
    static constexpr size_t ms_pageSize = size_t{4} << 10;
    static constexpr size_t ms_alignment = 64;
    static constexpr size_t ms_defaultMappedBlockThreshold = size_t{64} << 10;
    static constexpr size_t ms_defaultHugeBlockThreshold = size_t{1} << 20;
    static constexpr size_t ms_defaultCapacity = size_t{512} << 20;

    struct Statistics {
        size_t cachedBytes = 0;  // freed mapped blocks kept for reuse
        size_t mappedBytes = 0;  // mapped blocks now: in use and kept
        uint64_t reused = 0;     // mapped-size requests served from kept blocks
        uint64_t mapped = 0;     // mapped-size requests that mapped fresh memory
        uint64_t released = 0;   // kept blocks given back to the system
    };

    // The pool every surfel buffer uses. Never destroyed, so that buffers released during
    // static destruction still find it.
    static KaCSurfelMemoryPool& GetInstance();

    explicit KaCSurfelMemoryPool(size_t capacity = ms_defaultCapacity,
                                 size_t mappedBlockThreshold = ms_defaultMappedBlockThreshold,
                                 size_t hugeBlockThreshold = ms_defaultHugeBlockThreshold);
    // Gives kept blocks back to the system. Blocks still in use must not be returned after.
    ~KaCSurfelMemoryPool();
    KaCSurfelMemoryPool(const KaCSurfelMemoryPool&) = delete;
    KaCSurfelMemoryPool& operator=(const KaCSurfelMemoryPool&) = delete;

    // `bytes` of memory (null for 0). Give it back with Deallocate and the same size.
    void* Allocate(size_t bytes);
    void Deallocate(void* memory, size_t bytes) noexcept;

    // The most bytes kept for reuse; 0 keeps nothing. Lowering it releases at once.
    void SetCapacity(size_t bytes);
    size_t GetCapacity() const;
    // Whether newly mapped huge-page blocks ask for transparent huge pages.
    void SetHugePages(bool enabled);
    bool GetHugePages() const;
    size_t GetMappedBlockThreshold() const { return m_mappedBlockThreshold; }
    size_t GetHugeBlockThreshold() const { return m_hugeBlockThreshold; }
    // Gives every kept block back to the system.
    void Trim();
    Statistics GetStatistics() const;

private:
    struct Block {
        char* address;
        size_t bytes;
        bool huge;     // 2 MiB aligned and sized
        uint64_t age;  // order of release, for releasing the oldest first
    };

    // The mapped size of a request of `bytes`, and whether it lives on huge pages.
    size_t mappedSize(size_t bytes, bool& huge) const;
    static void* mapFresh(size_t bytes, bool huge, bool advise);
    static void unmap(void* address, size_t bytes) noexcept;
    // Keeps `block`, joined with the kept blocks of its kind right before and after it.
    // Needs room for one more entry in m_cached.
    void keepJoined(Block block);
    // Moves the oldest kept blocks into `out` until at most `limit` bytes are kept.
    void evictLocked(size_t limit, std::vector<Block>& out);
    static void releaseBlocks(const std::vector<Block>& blocks) noexcept;

    const size_t m_mappedBlockThreshold;
    const size_t m_hugeBlockThreshold;
    mutable std::mutex m_mutex;
    // Guarded by m_mutex:
    size_t m_capacity;
    bool m_hugePages = true;
    std::vector<Block> m_cached;
    uint64_t m_nextAge = 0;
    Statistics m_statistics;
};
