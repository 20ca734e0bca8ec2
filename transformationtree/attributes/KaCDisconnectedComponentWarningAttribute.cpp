#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "transformationtree/persistence/KaCSurfelCollectionBlock.h"

CB_DEFINE_RTTI(KaCDisconnectedComponentWarningAttribute, nullptr,
               &KaCDisconnectedComponentWarningAttribute::CreateByFactory,
               &KaCDisconnectedComponentWarningAttribute::CloneByFactory)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

KaCDisconnectedComponentWarningAttribute::KaCDisconnectedComponentWarningAttribute(
    const KaCDisconnectedComponentWarningAttribute& other)
    : KaARTTIAttribute(other)
    , m_warningSurfelCollection(
          KaCSurfelCollectionBlock::Clone(other.GetWarningSurfelCollection())) {}

CbSmartPointer<const CySurfelCollectionBase>
KaCDisconnectedComponentWarningAttribute::GetWarningSurfelCollection() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_warningSurfelCollection;
}

void KaCDisconnectedComponentWarningAttribute::SetWarningSurfelCollection(
    CbSmartPointer<const CySurfelCollectionBase> collection) {
    CbCriticalSectionAuto lock(m_lock);
    m_warningSurfelCollection = std::move(collection);
}

bool KaCDisconnectedComponentWarningAttribute::ResetAttribute() {
    CbCriticalSectionAuto lock(m_lock);
    m_warningSurfelCollection = nullptr;
    return true;
}

void KaCDisconnectedComponentWarningAttribute::Serialize(CbStreamWriteBinary& stream) const {
    CbCriticalSectionAuto lock(m_lock);
    stream.WriteVersion(c_version);
    KaCSurfelCollectionBlock::Write(stream, m_warningSurfelCollection);
}

void KaCDisconnectedComponentWarningAttribute::Serialize(CbStreamReadBinary& stream) {
    CbCriticalSectionAuto lock(m_lock);
    stream.ReadAcceptedVersion("KaCDisconnectedComponentWarningAttribute", {c_version});
    KaCSurfelCollectionBlock::Read(stream, m_warningSurfelCollection);
}
