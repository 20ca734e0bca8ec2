#pragma once

#include <type_traits>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbWeakPointerBase.h"

// Weak pointer: observes an object without keeping it alive and reads as null once the
// object has died. Lock() returns a strong pointer, or null; it is safe while another
// thread releases the last strong reference (see CbReferenceCounter).
//
// Attach a weak pointer only to an object that is alive: owned by a strong pointer, or
// still being constructed by its creator.
//
// Thread safety: distinct weak pointers to one object may be used from different
// threads at once; one weak pointer object is not to be written while another thread
// uses it.
template <class T>
class CbWeakPointer : private CbWeakPointerBase {
public:
    CbWeakPointer() = default;
    CbWeakPointer(std::nullptr_t) {}              // NOLINT: implicit by design
    CbWeakPointer(T* object) { assign(object); }  // NOLINT: implicit by design
    CbWeakPointer(const CbSmartPointer<T>& object) { assign(object.Get()); }  // NOLINT
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CbWeakPointer(const CbSmartPointer<U>& object) {  // NOLINT: implicit by design
        assign(object.Get());
    }
    CbWeakPointer(const CbWeakPointer& other) { assign(other.Lock().Get()); }
    ~CbWeakPointer() = default;

    CbWeakPointer& operator=(const CbWeakPointer& other) {
        if (this != &other) {
            assign(other.Lock().Get());
        }
        return *this;
    }
    CbWeakPointer& operator=(T* object) {
        assign(object);
        return *this;
    }
    CbWeakPointer& operator=(const CbSmartPointer<T>& object) {
        assign(object.Get());
        return *this;
    }
    CbWeakPointer& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    void Reset() { detach(); }

    // A strong reference to the object, or null when there is none or it died.
    CbSmartPointer<T> Lock() const {
        T* object = static_cast<T*>(const_cast<void*>(acquireTarget()));
        return CbSmartPointer<T>(object, CbAdoptReference());
    }
    // True while the object lives; a snapshot that may be stale as soon as it returns.
    bool IsAlive() const { return isAlive(); }
    // Whether this pointer observes `object`, without locking or counting: only while the
    // caller keeps alive whatever this pointer observes (a live object's link is not
    // cleared) and no other thread writes this pointer.
    bool ObservesLive(const T* object) const { return observesUnlocked(object); }
    // The object observed, or null, without locking or counting: under the same conditions
    // as ObservesLive.
    T* GetLive() const { return static_cast<T*>(const_cast<void*>(targetUnlocked())); }
    // Starts observing `object` without taking the lock that guards its list of weak
    // pointers: only while no other thread can reach this pointer, `object` or any weak
    // pointer observing it (objects a thread has just made and not yet shared).
    void AssignUnshared(T* object) {
        const IReferenceCounted* counted = object;
        attachUnshared(object != nullptr ? &counted->getReferenceCounter() : nullptr,
                       static_cast<const void*>(object));
    }

private:
    void assign(T* object) {
        if (object == nullptr) {
            detach();
            return;
        }
        const IReferenceCounted* counted = object;
        attach(&counted->getReferenceCounter(), static_cast<const void*>(object));
    }
};
