#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

class IReferenceCounted;
class CbWeakPointerBase;

// The reference counter of one shared object: a 32-bit strong count changed only by
// atomic increment and decrement, the head of the list of weak pointers that observe the
// object, and an optional deleter.
//
// The weak list is guarded by a critical section taken from a striped pool by the
// counter's address, so a counter costs no mutex of its own. The protocol that makes
// upgrading a weak pointer safe while another thread drops the last strong reference:
//  - a strong count that reached zero never rises again (TryIncrement refuses 0);
//  - the releaser that brought the count to zero takes the stripe, clears every weak
//    pointer, leaves the stripe, and only then destroys the object;
//  - a weak pointer reads its target only under the stripe, so it either sees null or an
//    object whose memory is still alive, and then increments only a non-zero count.
class CbReferenceCounter {
public:
    using Deleter = void (*)(IReferenceCounted* object);

    CbReferenceCounter() = default;
    CbReferenceCounter(const CbReferenceCounter&) = delete;
    CbReferenceCounter& operator=(const CbReferenceCounter&) = delete;

    void Increment() { m_count.fetch_add(1, std::memory_order_relaxed); }
    // Increment for an object that no other thread can reach yet: a plain load and store,
    // without the locked instruction, which would first wait for every store before it
    // (a new object's construction) to reach the cache.
    void IncrementUnshared() {
        m_count.store(m_count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    // True when the count was not zero and has been incremented.
    [[nodiscard]] bool TryIncrement();
    // Decrements; at zero, clears the weak pointers and destroys `owner`.
    void Decrement(const IReferenceCounted* owner);

    int32_t GetCount() const { return m_count.load(std::memory_order_acquire); }
    void SetDeleter(Deleter deleter) { m_deleter = deleter; }
    Deleter GetDeleter() const { return m_deleter; }

    // The stripe of the pool that guards this counter's weak list.
    std::mutex& GetCriticalSection() const { return StripeFor(this); }
    static std::mutex& StripeFor(const void* counterAddress);

private:
    friend class CbWeakPointerBase;

    std::atomic<int32_t> m_count{0};
    CbWeakPointerBase* m_weakHead = nullptr;  // guarded by GetCriticalSection()
    Deleter m_deleter = nullptr;
};
