#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCBackgroundOptimizationLoopCountAttribute, nullptr,
               &KaCBackgroundOptimizationLoopCountAttribute::CreateByFactory,
               &KaCBackgroundOptimizationLoopCountAttribute::CloneByFactory)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

KaCBackgroundOptimizationLoopCountAttribute::KaCBackgroundOptimizationLoopCountAttribute(
    const KaCBackgroundOptimizationLoopCountAttribute& other)
    : KaARTTIAttribute(other), m_optimizationLoopCount(other.GetOptimizationLoopCount()) {}

unsigned int KaCBackgroundOptimizationLoopCountAttribute::GetOptimizationLoopCount() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_optimizationLoopCount;
}

void KaCBackgroundOptimizationLoopCountAttribute::SetOptimizationLoopCount(unsigned int count) {
    CbCriticalSectionAuto lock(m_lock);
    m_optimizationLoopCount = count;
}

void KaCBackgroundOptimizationLoopCountAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
    CbCriticalSectionAuto lock(m_lock);
    stream.WriteUInt32(m_optimizationLoopCount);
}

void KaCBackgroundOptimizationLoopCountAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCBackgroundOptimizationLoopCountAttribute", {c_version});
    CbCriticalSectionAuto lock(m_lock);
    m_optimizationLoopCount = stream.ReadUInt32();
}
