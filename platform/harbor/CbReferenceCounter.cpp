#include "platform/harbor/CbReferenceCounter.h"

#include <array>
#include <cstdint>

#include "platform/harbor/CbWeakPointerBase.h"
#include "platform/harbor/IReferenceCounted.h"

namespace {

constexpr size_t c_stripeCount = 256;

struct alignas(64) Stripe {
    std::mutex mutex;
};

std::array<Stripe, c_stripeCount>& stripes() {
    // Never destroyed: counters of objects released during static destruction still need it.
    static auto* pool = new std::array<Stripe, c_stripeCount>();
    return *pool;
}

}  // namespace

std::mutex& CbReferenceCounter::StripeFor(const void* counterAddress) {
    auto address = reinterpret_cast<uintptr_t>(counterAddress);
    size_t index = static_cast<size_t>((address >> 4) ^ (address >> 12)) % c_stripeCount;
    return stripes()[index].mutex;
}

bool CbReferenceCounter::TryIncrement() {
    int32_t count = m_count.load(std::memory_order_relaxed);
    while (count > 0) {
        if (m_count.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel,
                                          std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void CbReferenceCounter::Decrement(const IReferenceCounted* owner) {
    if (m_count.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(GetCriticalSection());
        if (m_count.load(std::memory_order_acquire) != 0) {
            return;
        }
        CbWeakPointerBase* weak = m_weakHead;
        while (weak != nullptr) {
            CbWeakPointerBase* next = weak->m_next;
            weak->clearLocked();
            weak = next;
        }
        m_weakHead = nullptr;
    }
    auto* object = const_cast<IReferenceCounted*>(owner);
    if (m_deleter != nullptr) {
        m_deleter(object);
    } else {
        delete object;
    }
}

void CbWeakPointerBase::attach(CbReferenceCounter* counter, const void* target) {
    detach();
    if (counter == nullptr || target == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(counter->GetCriticalSection());
    link(counter, target);
}

void CbWeakPointerBase::attachUnshared(CbReferenceCounter* counter, const void* target) {
    detach();
    if (counter == nullptr || target == nullptr) {
        return;
    }
    link(counter, target);
}

void CbWeakPointerBase::link(CbReferenceCounter* counter, const void* target) {
    m_counter = counter;
    m_target = target;
    m_previous = nullptr;
    m_next = counter->m_weakHead;
    if (m_next != nullptr) {
        m_next->m_previous = this;
    }
    counter->m_weakHead = this;
}

void CbWeakPointerBase::detach() {
    if (m_counter == nullptr) {
        return;
    }
    // The counter may have died with its object: only its address picks the stripe.
    std::lock_guard<std::mutex> lock(CbReferenceCounter::StripeFor(m_counter));
    if (m_target != nullptr) {
        if (m_previous != nullptr) {
            m_previous->m_next = m_next;
        } else {
            m_counter->m_weakHead = m_next;
        }
        if (m_next != nullptr) {
            m_next->m_previous = m_previous;
        }
    }
    m_counter = nullptr;
    m_target = nullptr;
    m_previous = nullptr;
    m_next = nullptr;
}

const void* CbWeakPointerBase::acquireTarget() const {
    if (m_counter == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(CbReferenceCounter::StripeFor(m_counter));
    if (m_target == nullptr || !m_counter->TryIncrement()) {
        return nullptr;
    }
    return m_target;
}

bool CbWeakPointerBase::isAlive() const {
    if (m_counter == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(CbReferenceCounter::StripeFor(m_counter));
    return m_target != nullptr && m_counter->GetCount() > 0;
}
