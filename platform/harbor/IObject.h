#pragma once

#include "platform/harbor/CbRTTI.h"

// Root interface of every run-time typed object.
class IObject {
public:
    virtual ~IObject() = default;
    virtual const CbRTTI& GetRTTI() const = 0;

    const wchar_t* GetClassNameW() const { return GetRTTI().GetName(); }
    bool Is(const CbRTTI& record) const { return GetRTTI().Is(record); }
    bool IsKindOf(const CbRTTI& record) const { return GetRTTI().IsKindOf(record); }
};

// Declares the static record and GetRTTI() of a run-time typed class.
#define CB_DECLARE_RTTI()                   \
public:                                     \
    static const CbRTTI RTTI;               \
    const CbRTTI& GetRTTI() const override; \
                                            \
private:

// Defines them; `base` is the address of the base class's record or nullptr, `create`
// and `clone` the factory functions or nullptr.
#define CB_DEFINE_RTTI(Class, base, create, clone)             \
    const CbRTTI Class::RTTI(L"" #Class, base, create, clone); \
    const CbRTTI& Class::GetRTTI() const {                     \
        return RTTI;                                           \
    }

// Declares and defines the factory functions registered in a class's record, in the
// private section where the macro stands: CreateByFactory makes a default instance,
// CloneByFactory a copy through the class's copy constructor. A class whose copies are
// not allowed declares only the create function.
#define CB_DECLARE_CREATE_FACTORY(Class) \
    static IObject* CreateByFactory() {  \
        return new Class();              \
    }

#define CB_DECLARE_FACTORIES(Class)                           \
    CB_DECLARE_CREATE_FACTORY(Class)                          \
    static IObject* CloneByFactory(const IObject& object) {   \
        return new Class(dynamic_cast<const Class&>(object)); \
    }
