#include "platform/harbor/CbEvent.h"

#include <chrono>

CbEvent::CbEvent(bool manualReset) : m_manualReset(manualReset) {}

void CbEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
    }
    if (m_manualReset) {
        m_condition.notify_all();
    } else {
        m_condition.notify_one();
    }
}

void CbEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool CbEvent::Wait(unsigned int milliseconds) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto isSet = [this] { return m_set; };
    if (milliseconds == c_infinite) {
        m_condition.wait(lock, isSet);
    } else if (!m_condition.wait_for(lock, std::chrono::milliseconds(milliseconds), isSet)) {
        return false;
    }
    if (!m_manualReset) {
        m_set = false;
    }
    return true;
}

bool CbEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_set;
}

CbEvent::EWaitResult CbEvent::WaitForSingleEvent(CbEvent& event, unsigned int milliseconds) {
    return event.Wait(milliseconds) ? eWaitSignaled : eWaitTimeout;
}
