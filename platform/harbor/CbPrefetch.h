#pragma once

#include <cstddef>
#include <cstdint>

// Starts loading the cache lines of [address, address + bytes) for a use soon after; changes
// nothing else. Loops over scattered objects (nodes, table slots) call it a few objects
// ahead so that their waits for memory overlap. Written as an instruction the compiler keeps:
// GCC drops __builtin_prefetch from loops that do nothing else with the address.
inline void CbPrefetch(const void* address, size_t bytes = 1) {
    const auto* first = static_cast<const char*>(address);
    const auto firstLine = reinterpret_cast<uintptr_t>(first) & ~uintptr_t{63};
    const uintptr_t end = reinterpret_cast<uintptr_t>(first) + bytes;
    for (uintptr_t line = firstLine; line < end; line += 64) {
        const char* at = first + (line - reinterpret_cast<uintptr_t>(first));
#if defined(__x86_64__)
        asm volatile("prefetcht0 %0" : : "m"(*at));
#else
        __builtin_prefetch(at);
#endif
    }
}
