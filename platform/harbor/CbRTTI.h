#pragma once

#include <string>

class IObject;

// Run-time type record of one class: its name, its base class's record, and the factory
// functions registered for it. Records are static objects built when their library is
// loaded; each registers itself under its name so that objects can be created and cloned
// by class name, which is how stream records name the classes they hold.
//
// Thread safety: the registry is guarded by a lock; records are immutable.
class CbRTTI {
public:
    using CreateFunction = IObject* (*)();
    using CloneFunction = IObject* (*)(const IObject& object);

    CbRTTI(const wchar_t* name, const CbRTTI* base, CreateFunction create, CloneFunction clone);
    ~CbRTTI();
    CbRTTI(const CbRTTI&) = delete;
    CbRTTI& operator=(const CbRTTI&) = delete;

    const wchar_t* GetName() const { return m_name; }
    const CbRTTI* GetBase() const { return m_base; }
    CreateFunction GetCreateFunction() const { return m_create; }
    CloneFunction GetCloneFunction() const { return m_clone; }

    // Exactly this class.
    bool Is(const CbRTTI& record) const { return this == &record; }
    // This class or one derived from it.
    bool IsKindOf(const CbRTTI& record) const;

    bool operator==(const CbRTTI& other) const { return this == &other; }
    bool operator!=(const CbRTTI& other) const { return this != &other; }

    // The functions registered under a class name; null when there is none.
    static CreateFunction getCreate(const std::wstring& name);
    static CloneFunction getClone(const std::wstring& name);
    static const CbRTTI* Find(const std::wstring& name);

    // A new object of the named class, or null when the class is unknown, has no create
    // function or the function throws. Never throws.
    static IObject* CreateByName(const std::wstring& name) noexcept;
    // A copy of `object` made by the clone function registered under the name of the
    // object's own record, or null when there is none or it throws. Never throws.
    static IObject* CloneByName(const IObject& object) noexcept;

private:
    const wchar_t* m_name;
    const CbRTTI* m_base;
    CreateFunction m_create;
    CloneFunction m_clone;
};
