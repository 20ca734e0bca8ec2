#pragma once

#include <mutex>

// A re-entrant lock. Meets the standard Lockable requirements, so std::lock_guard and
// std::unique_lock work with it as well as CbCriticalSectionAuto.
class CbCriticalSection {
public:
    CbCriticalSection() = default;
    CbCriticalSection(const CbCriticalSection&) = delete;
    CbCriticalSection& operator=(const CbCriticalSection&) = delete;

    void Enter() { m_mutex.lock(); }
    [[nodiscard]] bool TryEnter() { return m_mutex.try_lock(); }
    void Leave() { m_mutex.unlock(); }

    void lock() { Enter(); }
    bool try_lock() { return TryEnter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex m_mutex;
};
