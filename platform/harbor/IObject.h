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
