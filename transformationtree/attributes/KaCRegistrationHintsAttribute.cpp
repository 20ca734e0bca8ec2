#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "transformationtree/persistence/KaCSurfelCollectionBlock.h"

CB_DEFINE_RTTI(KaCRegistrationHintsAttribute, nullptr,
               &KaCRegistrationHintsAttribute::CreateByFactory,
               &KaCRegistrationHintsAttribute::CloneByFactory)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

KaCRegistrationHintsAttribute::KaCRegistrationHintsAttribute(
    const KaCRegistrationHintsAttribute& other)
    : KaARTTIAttribute(other)
    , m_registrationHintSurfelCollection(
          KaCSurfelCollectionBlock::Clone(other.GetRegistrationHintSurfelCollection())) {}

CbSmartPointer<const CySurfelCollectionBase>
KaCRegistrationHintsAttribute::GetRegistrationHintSurfelCollection() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_registrationHintSurfelCollection;
}

void KaCRegistrationHintsAttribute::SetRegistrationHintSurfelCollection(
    CbSmartPointer<CySurfelCollectionBase> collection) {
    CbCriticalSectionAuto lock(m_lock);
    m_registrationHintSurfelCollection = std::move(collection);
}

KaCRegistrationHintsAttribute::ESurfelCollectionDisplayMode
KaCRegistrationHintsAttribute::GetDisplayMode() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_displayMode;
}

void KaCRegistrationHintsAttribute::SetDisplayMode(ESurfelCollectionDisplayMode mode) {
    CbCriticalSectionAuto lock(m_lock);
    m_displayMode = mode;
}

KaCRegistrationHintsAttribute::EComputationStatus
KaCRegistrationHintsAttribute::GetComputationStatus() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_computationStatus;
}

void KaCRegistrationHintsAttribute::SetComputationStatus(EComputationStatus status) {
    CbCriticalSectionAuto lock(m_lock);
    m_computationStatus = status;
}

void KaCRegistrationHintsAttribute::SetTriangulations(const TriangulationVector& triangulations) {
    // Plain assignment releases the old entries and is safe when `triangulations` is this
    // attribute's own vector.
    m_triangulations = triangulations;
}

bool KaCRegistrationHintsAttribute::ResetAttribute() {
    CbCriticalSectionAuto lock(m_lock);
    m_registrationHintSurfelCollection = nullptr;
    m_displayMode = eDisplayModeHidden;
    m_computationStatus = eComputationStatusNotComputed;
    m_triangulations.clear();
    return true;
}

void KaCRegistrationHintsAttribute::Serialize(CbStreamWriteBinary& stream) const {
    CbCriticalSectionAuto lock(m_lock);
    stream.WriteVersion(c_version);
    stream.WriteUInt32(m_displayMode);
    KaCSurfelCollectionBlock::Write(stream, m_registrationHintSurfelCollection);
}

void KaCRegistrationHintsAttribute::Serialize(CbStreamReadBinary& stream) {
    CbCriticalSectionAuto lock(m_lock);
    stream.ReadAcceptedVersion("KaCRegistrationHintsAttribute", {c_version});
    m_displayMode = static_cast<ESurfelCollectionDisplayMode>(stream.ReadUInt32());
    KaCSurfelCollectionBlock::Read(stream, m_registrationHintSurfelCollection);
}
