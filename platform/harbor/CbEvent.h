#pragma once

#include <condition_variable>
#include <mutex>

// An event that threads wait for. A manual-reset event stays set until Reset(); an
// auto-reset event releases one waiter and resets itself.
//
// Thread-safe.
class CbEvent {
public:
    enum EWaitResult {
        eWaitSignaled = 0,
        eWaitTimeout = 1,
    };
    // Wait without time limit.
    static constexpr unsigned int c_infinite = 0xFFFFFFFFu;

    explicit CbEvent(bool manualReset);
    CbEvent(const CbEvent&) = delete;
    CbEvent& operator=(const CbEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was set within `milliseconds` (c_infinite: no limit).
    bool Wait(unsigned int milliseconds);
    bool IsSet() const;

    static EWaitResult WaitForSingleEvent(CbEvent& event, unsigned int milliseconds);

private:
    const bool m_manualReset;
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_set = false;
};
