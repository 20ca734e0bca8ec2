#pragma once

#include "platform/harbor/CbReferenceCounter.h"

// The untyped part of a weak pointer: its link in the target's weak list. All fields are
// guarded by the stripe of the counter they refer to (see CbReferenceCounter).
class CbWeakPointerBase {
protected:
    CbWeakPointerBase() = default;
    ~CbWeakPointerBase() { detach(); }

    // Starts observing `counter` (which belongs to `target`); a null counter observes nothing.
    void attach(CbReferenceCounter* counter, const void* target);
    // attach without the stripe, for pointers and targets that no other thread can reach.
    void attachUnshared(CbReferenceCounter* counter, const void* target);
    // Stops observing.
    void detach();
    // The target, with one strong reference taken for the caller, or null when the target
    // has died or its count already reached zero.
    const void* acquireTarget() const;
    // True while the target lives; a snapshot that may be stale as soon as it returns.
    bool isAlive() const;
    // Whether `target` is the object observed, compared without the stripe: only for a
    // caller that keeps the observed object alive (then no releaser clears the link).
    bool observesUnlocked(const void* target) const { return m_target == target; }
    // The target, read without the stripe, under the same condition.
    const void* targetUnlocked() const { return m_target; }

private:
    friend class CbReferenceCounter;

    // Puts this pointer at the head of `counter`'s list (under the stripe, or unshared).
    void link(CbReferenceCounter* counter, const void* target);

    // Called by the releaser, under the stripe, for every pointer of the list.
    void clearLocked() {
        m_target = nullptr;
        m_previous = nullptr;
        m_next = nullptr;
    }

    CbReferenceCounter* m_counter = nullptr;  // kept after death only as a stripe key
    const void* m_target = nullptr;
    CbWeakPointerBase* m_previous = nullptr;
    CbWeakPointerBase* m_next = nullptr;
};
