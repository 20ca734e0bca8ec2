#pragma once

#include <pthread.h>
#include <sched.h>

#include <string>
#include <thread>
#include <utility>

#include "platform/harbor/CbEvent.h"

// Scheduling wishes of a thread: a nice-like priority offset (0 keeps the process's) and
// the processor to pin it to (-1: any). Both are applied on a best-effort basis: a system
// that refuses them runs the thread unchanged.
struct CbThreadPolicyDefault {
    static constexpr int c_priority = 0;
    static constexpr int c_processor = -1;
};

// A named thread that runs `T::Run()` of the object that derives from it (T derives from
// CbThread<T, Policy>). Start() starts it (again once it has ended); Wait() waits for its
// end. The base destructor waits without limit, but by then the derived object's members
// are gone: owners call Wait() before they destroy a started thread object.
//
// Start, Wait and the destructor are called by the owning thread only.
template <class T, class Policy = CbThreadPolicyDefault>
class CbThread {
public:
    explicit CbThread(std::string name) : m_name(std::move(name)), m_finished(true) {}
    virtual ~CbThread() { join(); }
    CbThread(const CbThread&) = delete;
    CbThread& operator=(const CbThread&) = delete;

    const std::string& GetName() const { return m_name; }

    void Start() {
        if (m_thread.joinable()) {
            if (!m_finished.IsSet()) {
                return;
            }
            m_thread.join();
        }
        m_finished.Reset();
        m_thread = std::thread([this] {
            applyPolicy();
            static_cast<T*>(this)->Run();
            m_finished.Set();
        });
    }

    // True when the thread has ended within `milliseconds` (CbEvent::c_infinite: no limit).
    bool Wait(unsigned int milliseconds) {
        if (!m_thread.joinable()) {
            return true;
        }
        if (!m_finished.Wait(milliseconds)) {
            return false;
        }
        join();
        return true;
    }

private:
    void join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    void applyPolicy() {
        // The kernel limits names to 15 characters.
        pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
        if constexpr (Policy::c_processor >= 0) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(Policy::c_processor, &set);
            pthread_setaffinity_np(pthread_self(), sizeof(set), &set);
        }
        if constexpr (Policy::c_priority != 0) {
            sched_param parameter{};
            int policy = 0;
            if (pthread_getschedparam(pthread_self(), &policy, &parameter) == 0) {
                parameter.sched_priority += Policy::c_priority;
                pthread_setschedparam(pthread_self(), policy, &parameter);
            }
        }
    }

    std::string m_name;
    CbEvent m_finished;  // manual reset, set when Run() has returned
    std::thread m_thread;
};
