#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

namespace {
constexpr size_t c_initialBuckets = 1000;
}  // namespace

KaCTransformationNodeSerializationIDMapper::KaCTransformationNodeSerializationIDMapper()
    : m_referenceMap(c_initialBuckets) {}

void KaCTransformationNodeSerializationIDMapper::ClearMapping() {
    CbCriticalSectionAuto lock(m_lock);
    m_referenceMap.RemoveAll();
}

void KaCTransformationNodeSerializationIDMapper::SetNode(
    const CyUniqueID& id, CbSmartPointer<const KaCTransformationNode> node) {
    CbCriticalSectionAuto lock(m_lock);
    m_referenceMap[id] = CbConstCast<KaCTransformationNode>(node);
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeSerializationIDMapper::GetNode(
    const CyUniqueID& id) {
    const CbSmartPointer<KaCTransformationNode>* node = m_referenceMap.Find(id);
    return node != nullptr ? *node : nullptr;
}

void KaCTransformationNodeSerializationIDMapper::ListMappedModelIDs(
    CbArray<CyUniqueID, 0, CbArrayPolicyConstructDefault>& ids) const {
    CbCriticalSectionAuto lock(m_lock);
    for (const auto& entry : m_referenceMap) {
        ids.Add(entry.first);
    }
}

void KaCTransformationNodeSerializationIDMapper::WriteNodeByReference(
    CbStreamWriteBinary& stream, CbSmartPointer<const KaCTransformationNode> node) {
    KaCTransformationNode::GetID(node).Serialize(stream);
}

CbSmartPointer<KaCTransformationNode>
KaCTransformationNodeSerializationIDMapper::ReadNodeByReference(CbStreamReadBinary& stream) {
    CyUniqueID id = CyUniqueID::GetInvalidID();
    id.Serialize(stream);
    return GetNode(id);
}

void KaCTransformationNodeSerializationIDMapper::WriteNodeForInstantiation(
    CbStreamWriteBinary& stream, CbSmartPointer<const KaCTransformationNode> node) {
    if (!node) {
        CB_THROW(CbExceptionPreconditionViolation,
                 "KaCTransformationNodeSerializationIDMapper::WriteNodeForInstantiation: node is "
                 "null");
    }
    stream.WriteWideString(node->GetRTTI().GetName());
    CyUniqueID id = node->GetID();
    id.Serialize(stream);
    m_referenceMap[id] = CbConstCast<KaCTransformationNode>(node);
}

CbSmartPointer<KaCTransformationNode>
KaCTransformationNodeSerializationIDMapper::ReadNodeAndInstantiate(CbStreamReadBinary& stream) {
    std::wstring className = stream.ReadWideString();
    CyUniqueID id = CyUniqueID::GetInvalidID();
    id.Serialize(stream);
    if (!id.IsValid()) {
        // The invalid ID stands for "no node" in references: no node can carry it.
        CB_THROW(CbException,
                 "KaCTransformationNodeSerializationIDMapper: a node record with the invalid ID");
    }
    CbSmartPointer<KaCTransformationNode>& entry = m_referenceMap[id];
    entry = CbCreateByName<KaCTransformationNode>(className);
    if (entry) {
        entry->setID(id);
    }
    return entry;
}
