#include "tests/harbor/AllocationProbe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_armed{false};
std::atomic<size_t> g_largest{0};
std::atomic<size_t> g_requested{0};
constexpr size_t c_refused = size_t{64} << 20;
}  // namespace

void* operator new(size_t size) {
    if (g_armed.load(std::memory_order_relaxed)) {
        g_requested.fetch_add(size, std::memory_order_relaxed);
        size_t largest = g_largest.load(std::memory_order_relaxed);
        while (size > largest && !g_largest.compare_exchange_weak(largest, size)) {
        }
        if (size > c_refused) {
            throw std::bad_alloc();  // recorded; not worth gigabytes to prove the point
        }
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, size_t) noexcept {
    std::free(memory);
}

namespace AllocationProbe {

void Arm() {
    g_largest.store(0);
    g_requested.store(0);
    g_armed.store(true);
}

size_t Disarm() {
    g_armed.store(false);
    return g_largest.load();
}

size_t Requested() {
    return g_requested.load();
}

}  // namespace AllocationProbe
