#include "platform/harbor/CbRTTI.h"

#include <mutex>
#include <unordered_map>

#include "platform/harbor/IObject.h"

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::wstring, const CbRTTI*> records;
};

Registry& registry() {
    // Never destroyed: records of other libraries unregister during static destruction.
    static auto* instance = new Registry();
    return *instance;
}

}  // namespace

CbRTTI::CbRTTI(const wchar_t* name, const CbRTTI* base, CreateFunction create, CloneFunction clone)
    : m_name(name), m_base(base), m_create(create), m_clone(clone) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.records[name] = this;
}

CbRTTI::~CbRTTI() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.records.find(m_name);
    if (it != r.records.end() && it->second == this) {
        r.records.erase(it);
    }
}

bool CbRTTI::IsKindOf(const CbRTTI& record) const {
    for (const CbRTTI* current = this; current != nullptr; current = current->m_base) {
        if (current == &record) {
            return true;
        }
    }
    return false;
}

const CbRTTI* CbRTTI::Find(const std::wstring& name) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.records.find(name);
    return it == r.records.end() ? nullptr : it->second;
}

CbRTTI::CreateFunction CbRTTI::getCreate(const std::wstring& name) {
    const CbRTTI* record = Find(name);
    return record ? record->m_create : nullptr;
}

CbRTTI::CloneFunction CbRTTI::getClone(const std::wstring& name) {
    const CbRTTI* record = Find(name);
    return record ? record->m_clone : nullptr;
}

IObject* CbRTTI::CreateByName(const std::wstring& name) noexcept {
    try {
        CreateFunction create = getCreate(name);
        return create ? create() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

IObject* CbRTTI::CloneByName(const IObject& object) noexcept {
    try {
        CloneFunction clone = getClone(object.GetRTTI().GetName());
        return clone ? clone(object) : nullptr;
    } catch (...) {
        return nullptr;
    }
}
