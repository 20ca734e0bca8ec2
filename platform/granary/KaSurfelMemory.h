#pragma once

#include <cstddef>

// Where surfel arrays (KaTSurfelBuffer) get their memory: the process-wide surfel memory
// pool of the library (KaCSurfelMemoryPool, which stays inside granary). These two functions
// are all that the buffers' inline code needs of it, so that headers holding surfel buffers
// do not depend on the pool's own interface.
// Thread safety: both functions may be called from any thread.
namespace KaSurfelMemory {

// Every block is aligned to at least this many bytes.
inline constexpr size_t c_alignment = 64;

// `bytes` of memory holding unspecified values (null for 0). Throws CbExceptionOutOfMemory
// when the memory cannot be had.
void* Allocate(size_t bytes);
// Gives back a block from Allocate, with the size it was asked for; null is ignored.
void Deallocate(void* memory, size_t bytes) noexcept;

}  // namespace KaSurfelMemory
