#include "platform/granary/KaCSurfelMemoryPool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/harbor/CbExceptionOutOfMemory.h"

#if defined(__SANITIZE_ADDRESS__)
#define KA_SURFEL_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KA_SURFEL_POOL_ASAN 1
#endif
#endif

#ifdef KA_SURFEL_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

void poison(void* address, size_t bytes) {
#ifdef KA_SURFEL_POOL_ASAN
    ASAN_POISON_MEMORY_REGION(address, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

void unpoison(void* address, size_t bytes) {
#ifdef KA_SURFEL_POOL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(address, bytes);
#else
    (void)address;
    (void)bytes;
#endif
}

size_t roundUp(size_t bytes, size_t unit) {
    if (bytes > SIZE_MAX - unit) {
        CB_THROW(CbExceptionOutOfMemory, "KaCSurfelMemoryPool: size beyond the address space");
    }
    return (bytes + unit - 1) / unit * unit;
}

}  // namespace

KaCSurfelMemoryPool& KaCSurfelMemoryPool::GetInstance() {
    static KaCSurfelMemoryPool* const instance = new KaCSurfelMemoryPool();
    return *instance;
}

KaCSurfelMemoryPool::KaCSurfelMemoryPool(size_t capacity, size_t mappedBlockThreshold,
                                         size_t hugeBlockThreshold)
    : m_mappedBlockThreshold(std::max<size_t>(mappedBlockThreshold, 1))
    , m_hugeBlockThreshold(std::max(hugeBlockThreshold, m_mappedBlockThreshold))
    , m_capacity(capacity) {}

KaCSurfelMemoryPool::~KaCSurfelMemoryPool() {
    Trim();
}

size_t KaCSurfelMemoryPool::mappedSize(size_t bytes, bool& huge) const {
    huge = bytes >= m_hugeBlockThreshold;
    return roundUp(bytes, huge ? ms_hugePageSize : ms_pageSize);
}

void* KaCSurfelMemoryPool::Allocate(size_t bytes) {
    if (bytes == 0) {
        return nullptr;
    }
    if (bytes < m_mappedBlockThreshold) {
        void* memory = ::operator new (bytes, std::align_val_t{ms_alignment}, std::nothrow);
        if (memory == nullptr) {
            CB_THROW(CbExceptionOutOfMemory, "KaCSurfelMemoryPool: allocation failed");
        }
        return memory;
    }
    bool huge = false;
    const size_t size = mappedSize(bytes, huge);
    bool advise = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        advise = m_hugePages;
        // Best fit: the smallest kept block of the kind that is large enough; of equal ones
        // the last given back, whose pages are the likeliest to be still in the caches.
        auto best = m_cached.end();
        for (auto it = m_cached.begin(); it != m_cached.end(); ++it) {
            if (it->huge == huge && it->bytes >= size &&
                (best == m_cached.end() || it->bytes <= best->bytes)) {
                best = it;
            }
        }
        if (best != m_cached.end()) {
            char* address = best->address;
            if (best->bytes > size) {
                // Whole pages of the kind either side: the rest stays kept on its own.
                best->address += size;
                best->bytes -= size;
            } else {
                m_cached.erase(best);
            }
            m_statistics.cachedBytes -= size;
            ++m_statistics.reused;
            unpoison(address, bytes);
            poison(address + bytes, size - bytes);  // the rounding: reported when touched
            return address;
        }
    }
    void* memory = mapFresh(size, huge, advise);
    if (memory == nullptr) {
        Trim();
        memory = mapFresh(size, huge, advise);
    }
    if (memory == nullptr) {
        CB_THROW(CbExceptionOutOfMemory, "KaCSurfelMemoryPool: mapping memory failed");
    }
    poison(static_cast<char*>(memory) + bytes, size - bytes);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statistics.mappedBytes += size;
    ++m_statistics.mapped;
    return memory;
}

void* KaCSurfelMemoryPool::mapFresh(size_t bytes, bool huge, bool advise) {
    if (!huge) {
        void* block =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return block == MAP_FAILED ? nullptr : block;
    }
    // Map one huge page more than asked and cut both ends, so that the block starts on a
    // huge page boundary.
    if (bytes > SIZE_MAX - ms_hugePageSize) {
        return nullptr;
    }
    const size_t span = bytes + ms_hugePageSize;
    void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + ms_hugePageSize - 1) / ms_hugePageSize * ms_hugePageSize;
    const size_t head = aligned - start;
    const size_t tail = span - head - bytes;
    if (head != 0) {
        ::munmap(raw, head);
    }
    if (tail != 0) {
        ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
    }
    void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    if (advise) {
        // Only advice: without transparent huge pages the block works with small pages.
        (void)::madvise(block, bytes, MADV_HUGEPAGE);
    }
#else
    (void)advise;
#endif
    return block;
}

void KaCSurfelMemoryPool::unmap(void* address, size_t bytes) noexcept {
    unpoison(address, bytes);
    ::munmap(address, bytes);
}

void KaCSurfelMemoryPool::Deallocate(void* memory, size_t bytes) noexcept {
    if (memory == nullptr) {
        return;
    }
    if (bytes < m_mappedBlockThreshold) {
        ::operator delete (memory, std::align_val_t{ms_alignment});
        return;
    }
    // The size was valid when the block was allocated, so rounding cannot throw here.
    const bool huge = bytes >= m_hugeBlockThreshold;
    const size_t unit = huge ? ms_hugePageSize : ms_pageSize;
    const size_t size = (bytes + unit - 1) / unit * unit;
    std::vector<Block> released;
    bool keep = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (size <= m_capacity) {
            try {
                released.reserve(m_cached.size());
                m_cached.reserve(m_cached.size() + 1);
                evictLocked(m_capacity - size, released);
                poison(memory, size);
                m_statistics.cachedBytes += size;
                keepJoined({static_cast<char*>(memory), size, huge, m_nextAge++});
                keep = true;
            } catch (const std::bad_alloc&) {
                keep = false;  // no room for the bookkeeping: give the block back instead
            }
        }
        if (!keep) {
            m_statistics.mappedBytes -= size;
        }
    }
    if (!keep) {
        unmap(memory, size);
    }
    releaseBlocks(released);
}

void KaCSurfelMemoryPool::keepJoined(Block block) {
    // Neighbouring kept blocks (the pieces of a split block, or adjacent mappings) are
    // joined, so that splitting does not leave the pool in pieces too small to reuse.
    bool joined = true;
    while (joined) {
        joined = false;
        for (auto it = m_cached.begin(); it != m_cached.end(); ++it) {
            if (it->huge == block.huge && (it->address + it->bytes == block.address ||
                                           block.address + block.bytes == it->address)) {
                block.address = std::min(block.address, it->address);
                block.bytes += it->bytes;
                m_cached.erase(it);
                joined = true;
                break;
            }
        }
    }
    m_cached.push_back(block);
}

void KaCSurfelMemoryPool::evictLocked(size_t limit, std::vector<Block>& out) {
    while (m_statistics.cachedBytes > limit && !m_cached.empty()) {
        auto oldest =
            std::min_element(m_cached.begin(), m_cached.end(),
                             [](const Block& a, const Block& b) { return a.age < b.age; });
        out.push_back(*oldest);
        m_statistics.cachedBytes -= oldest->bytes;
        m_statistics.mappedBytes -= oldest->bytes;
        ++m_statistics.released;
        m_cached.erase(oldest);
    }
}

void KaCSurfelMemoryPool::releaseBlocks(const std::vector<Block>& blocks) noexcept {
    for (const Block& block : blocks) {
        unmap(block.address, block.bytes);
    }
}

void KaCSurfelMemoryPool::SetCapacity(size_t bytes) {
    std::vector<Block> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_capacity = bytes;
        released.reserve(m_cached.size());
        evictLocked(bytes, released);
    }
    releaseBlocks(released);
}

size_t KaCSurfelMemoryPool::GetCapacity() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

void KaCSurfelMemoryPool::SetHugePages(bool enabled) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hugePages = enabled;
}

bool KaCSurfelMemoryPool::GetHugePages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hugePages;
}

void KaCSurfelMemoryPool::Trim() {
    std::vector<Block> released;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        released.reserve(m_cached.size());
        evictLocked(0, released);
    }
    releaseBlocks(released);
}

KaCSurfelMemoryPool::Statistics KaCSurfelMemoryPool::GetStatistics() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statistics;
}
