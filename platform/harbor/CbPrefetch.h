#pragma once

#include <cstddef>
#include <cstdint>

// Starts loading the cache lines of [address, address + bytes) for a use soon after; changes
// nothing else. Loops over scattered objects (nodes, table slots) call it a few objects
// ahead so that their waits for memory overlap. Written as an instruction the compiler keeps:
// GCC drops __builtin_prefetch from loops that do nothing else with the address.
inline void CbPrefetch(const void* address, size_t bytes = 1) {
    const auto start = reinterpret_cast<uintptr_t>(address);
    const uintptr_t end = start + bytes;
    // Line addresses, the first one at or before `address`: integers turned into pointers
    // for the instruction only, never pointer arithmetic outside the object.
    for (uintptr_t line = start & ~uintptr_t{63}; line < end; line += 64) {
        const auto* at = reinterpret_cast<const char*>(line);
#if defined(__x86_64__)
        asm volatile("prefetcht0 %0" : : "m"(*at));
#else
        __builtin_prefetch(at);
#endif
    }
}
