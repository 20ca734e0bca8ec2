#pragma once

#include <atomic>
#include <string>
#include <typeinfo>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/Singleton.h"

// Base of the process-wide singletons. GetInstance() creates the instance on first use
// under the process-wide singleton lock, so concurrent first calls yield one instance; the
// instance is destroyed during static destruction, in reverse order of creation. T makes
// its constructor and destructor non-public and befriends CbSingleton<T>.
//
// Thread safety: GetInstance and HasInstance may be called from any thread.
template <class T>
class CbSingleton {
public:
    static T& GetInstance() {
        T* instance = ms_instance.load(std::memory_order_acquire);
        if (instance != nullptr) {
            return *instance;
        }
        CbCriticalSectionAuto lock(Singleton::GetCriticalSectionSingleton());
        // The destroyer is a function-local static: registered once, run at exit.
        static Destroyer destroyer;
        instance = ms_instance.load(std::memory_order_relaxed);
        if (instance == nullptr) {
            instance = new T();
            ms_instance.store(instance, std::memory_order_release);
            Singleton::IncrementSingletonCounter(typeid(T).name());
        }
        return *instance;
    }

    static bool HasInstance() { return ms_instance.load(std::memory_order_acquire) != nullptr; }

protected:
    CbSingleton() = default;
    virtual ~CbSingleton() = default;
    CbSingleton(const CbSingleton&) = delete;
    CbSingleton& operator=(const CbSingleton&) = delete;

private:
    struct Destroyer {
        ~Destroyer() {
            T* instance = ms_instance.exchange(nullptr, std::memory_order_acq_rel);
            if (instance != nullptr) {
                delete instance;
                Singleton::DecrementSingletonCounter(typeid(T).name());
                Singleton::Log((std::string("destroyed ") + typeid(T).name()).c_str());
            }
        }
    };

    inline static std::atomic<T*> ms_instance{nullptr};
};
