#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCAreaPropertiesAttribute, nullptr, &KaCAreaPropertiesAttribute::CreateByFactory,
               nullptr)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

KaCAreaPropertiesAttribute::EOrientationStrategy
KaCAreaPropertiesAttribute::GetOrientationStrategy() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_orientationStrategy;
}

void KaCAreaPropertiesAttribute::SetOrientationStrategy(EOrientationStrategy strategy) {
    CbCriticalSectionAuto lock(m_lock);
    m_orientationStrategy = strategy;
}

bool KaCAreaPropertiesAttribute::ResetAttribute() {
    CbCriticalSectionAuto lock(m_lock);
    m_orientationStrategy = eOrientationStrategyNone;
    return true;
}

void KaCAreaPropertiesAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
}

void KaCAreaPropertiesAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCAreaPropertiesAttribute", {c_version});
}
