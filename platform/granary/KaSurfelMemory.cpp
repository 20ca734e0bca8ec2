#include "platform/granary/KaSurfelMemory.h"

#include "platform/granary/KaCSurfelMemoryPool.h"

static_assert(KaSurfelMemory::c_alignment == KaCSurfelMemoryPool::ms_alignment,
              "surfel buffers rely on the pool's alignment");

namespace KaSurfelMemory {

void* Allocate(size_t bytes) {
    return KaCSurfelMemoryPool::GetInstance().Allocate(bytes);
}

void Deallocate(void* memory, size_t bytes) noexcept {
    KaCSurfelMemoryPool::GetInstance().Deallocate(memory, bytes);
}

}  // namespace KaSurfelMemory
