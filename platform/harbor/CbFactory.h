#pragma once

#include <memory>
#include <string>

#include "platform/harbor/CbRTTI.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/IObject.h"

namespace CbFactoryDetail {
// Disposes of an object made by a factory that turned out to be of an unwanted type.
inline void dispose(IObject* object) {
    if (auto* counted = dynamic_cast<IReferenceCounted*>(object)) {
        CbSmartPointer<IReferenceCounted> owner(counted);  // released at once
    } else {
        delete object;
    }
}

template <class T>
std::unique_ptr<T> own(IObject* object) {
    if (object == nullptr) {
        return nullptr;
    }
    if (T* typed = dynamic_cast<T*>(object)) {
        return std::unique_ptr<T>(typed);
    }
    dispose(object);
    return nullptr;
}

template <class T>
CbSmartPointer<T> adopt(IObject* object) {
    if (object == nullptr) {
        return nullptr;
    }
    if (T* typed = dynamic_cast<T*>(object)) {
        return CbSmartPointer<T>(typed);
    }
    dispose(object);
    return nullptr;
}
}  // namespace CbFactoryDetail

// A new object of the class registered under `name`, as a T; null when the class is not
// registered, has no create function, the function throws, or the object is not a T.
// Never throws.
template <class T>
CbSmartPointer<T> CbCreateByName(const std::wstring& name) noexcept {
    return CbFactoryDetail::adopt<T>(CbRTTI::CreateByName(name));
}

// A copy of `object` made through the clone function registered under the name of its
// own record, as a T; null when there is none, it throws, or the copy is not a T.
template <class T>
CbSmartPointer<T> CbCloneByName(const IObject& object) noexcept {
    return CbFactoryDetail::adopt<T>(CbRTTI::CloneByName(object));
}

// The same for run-time typed objects that are not reference counted (node vectors, for
// instance): the caller owns the new object.
template <class T>
std::unique_ptr<T> CbCreateOwnedByName(const std::wstring& name) noexcept {
    return CbFactoryDetail::own<T>(CbRTTI::CreateByName(name));
}

template <class T>
std::unique_ptr<T> CbCloneOwnedByName(const IObject& object) noexcept {
    return CbFactoryDetail::own<T>(CbRTTI::CloneByName(object));
}
