#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

// A name slot that objects carry for diagnostics, with the memory the object uses. The
// first template argument selects one of several slots a class might carry, the second
// the string type.
//
// An object that was given no name (SetName) has the name DefaultName makes, made when it
// is first asked for: a class whose objects are named by a rule (after their ID, say)
// makes and stores no string for the many objects whose name nobody asks for.
//
// Thread safety: GetName may be called from several threads at once (the first call
// publishes the default name atomically, and a thread that loses the race uses the winner's);
// SetName, like any write, not while another thread uses the name.
template <int Slot, class String = std::wstring>
class CbIClassName {
public:
    CbIClassName() = default;
    // A copy has the name the original has at the time, if that was made; otherwise its own
    // default name.
    CbIClassName(const CbIClassName& other) : m_name(other.copyOfName()) {}
    CbIClassName& operator=(const CbIClassName& other) {
        if (this != &other) {
            replace(other.copyOfName());
        }
        return *this;
    }
    virtual ~CbIClassName() { delete m_name.load(std::memory_order_relaxed); }

    const String& GetName() const {
        const String* name = m_name.load(std::memory_order_acquire);
        return name != nullptr ? *name : makeDefaultName();
    }
    void SetName(String name) { replace(new String(std::move(name))); }
    virtual size_t GetMemoryUsage() const {
        const String* name = m_name.load(std::memory_order_acquire);
        return sizeof(*this) +
               (name != nullptr
                    ? sizeof(String) + name->capacity() * sizeof(typename String::value_type)
                    : 0);
    }

protected:
    // The name of an object that was given none. It must not change while the object has
    // not been asked for its name: a subclass whose rule depends on state that changes asks
    // for the name (GetName) before it changes that state.
    virtual String DefaultName() const { return String(); }

private:
    const String& makeDefaultName() const {
        auto made = std::make_unique<const String>(DefaultName());
        const String* expected = nullptr;
        if (m_name.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel,
                                           std::memory_order_acquire)) {
            return *made.release();
        }
        return *expected;
    }
    const String* copyOfName() const {
        const String* name = m_name.load(std::memory_order_acquire);
        return name != nullptr ? new String(*name) : nullptr;
    }
    void replace(const String* name) { delete m_name.exchange(name, std::memory_order_acq_rel); }

    // Null until the object is given a name or asked for its default name; owned.
    mutable std::atomic<const String*> m_name{nullptr};
};
