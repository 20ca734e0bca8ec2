#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

#include <array>
#include <cstring>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStringConversion.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

namespace {
// Entries the mapper makes room for at first.
constexpr size_t c_initialEntries = 1024;
// Entries the mapper keeps room for between uses (7 MiB of table): the next tree of up to
// this many nodes is mapped without allocating and first-touching a new table, which costs
// about a tenth of reading the tree. A larger table is freed by ClearMapping, so that one
// very large tree does not hold its memory after it is read.
constexpr size_t c_keptEntries = size_t{1} << 17;
}  // namespace

namespace {

// A node class whose instantiation records the mapper recognises by the stream form of its
// name (the UTF-16 units, little-endian), without decoding the name.
struct KnownClass {
    const CbRTTI* record;
    std::vector<uint8_t> units;
};

const std::array<KnownClass, 2>& knownClasses() {
    static const std::array<KnownClass, 2> classes = [] {
        std::array<KnownClass, 2> known;
        const CbRTTI* records[2] = {&KaCTransformationNodeLeaf::RTTI,
                                    &KaCTransformationNodeInner::RTTI};
        for (size_t i = 0; i < known.size(); ++i) {
            CbStreamWriteBinaryBuffer encoded;
            encoded.WriteWideString(records[i]->GetName());
            std::vector<uint8_t> bytes = encoded.TakeBuffer();
            known[i] = {records[i], std::vector<uint8_t>(bytes.begin() + 4, bytes.end())};
        }
        return known;
    }();
    return classes;
}

}  // namespace

KaCTransformationNodeSerializationIDMapper::KaCTransformationNodeSerializationIDMapper() {
    m_referenceMap.Reserve(c_initialEntries);
}

void KaCTransformationNodeSerializationIDMapper::ClearMapping() {
    CbCriticalSectionAuto lock(m_lock);
    if (m_referenceMap.GetCapacity() > 2 * c_keptEntries) {
        m_referenceMap.Release();
        m_referenceMap.Reserve(c_initialEntries);
    } else {
        m_referenceMap.Clear();
    }
    if (m_instantiated.capacity() > c_keptEntries) {
        std::vector<Instantiated>().swap(m_instantiated);
    }
    m_instantiated.clear();
    m_held.clear();
    m_instantiatedValid = true;
    m_lastFound = 0;
    m_readTime.reset();
}

void KaCTransformationNodeSerializationIDMapper::ReserveMapping(size_t count) {
    CbCriticalSectionAuto lock(m_lock);
    m_referenceMap.Reserve(count);
    m_instantiated.reserve(count);
}

void KaCTransformationNodeSerializationIDMapper::SetNode(
    const CyUniqueID& id, CbSmartPointer<const KaCTransformationNode> node) {
    CbCriticalSectionAuto lock(m_lock);
    mapHeld(id, CbConstCast<KaCTransformationNode>(node));
}

void KaCTransformationNodeSerializationIDMapper::mapHeld(
    const CyUniqueID& id, CbSmartPointer<KaCTransformationNode> node) {
    auto [mapped, added] = m_referenceMap.TryEmplace(id);
    hold(*mapped, added, std::move(node));
}

void KaCTransformationNodeSerializationIDMapper::hold(Mapped& mapped, bool added,
                                                      CbSmartPointer<KaCTransformationNode> node) {
    if (!added && mapped.held != c_none) {
        m_held[mapped.held] = std::move(node);
    } else {
        mapped.held = static_cast<uint32_t>(m_held.size());
        m_held.push_back(std::move(node));
    }
    mapped.instantiation = c_none;
    // An ID is no longer mapped to the node instantiated under it, or the map names a node
    // that was not instantiated.
    m_instantiatedValid = false;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeSerializationIDMapper::GetNode(
    const CyUniqueID& id) {
    return CbSmartPointer<KaCTransformationNode>(findMapped(id));
}

KaCTransformationNode* KaCTransformationNodeSerializationIDMapper::findMapped(
    const CyUniqueID& id) {
    if (KaCTransformationNode* node = findNear(id)) {
        return node;
    }
    const Mapped* mapped = m_referenceMap.Find(id);
    if (mapped == nullptr) {
        return nullptr;
    }
    if (mapped->instantiation == c_none) {
        return m_held[mapped->held].Get();
    }
    m_lastFound = mapped->instantiation;
    return m_instantiated[mapped->instantiation].node;
}

KaCTransformationNode* KaCTransformationNodeSerializationIDMapper::findNear(
    const CyUniqueID& id) const {
    if (!m_instantiatedValid) {
        return nullptr;
    }
    for (size_t index : {m_lastFound, m_lastFound + 1}) {
        if (index < m_instantiated.size() && m_instantiated[index].id == id) {
            m_lastFound = index;
            return m_instantiated[index].node;
        }
    }
    return nullptr;
}

void KaCTransformationNodeSerializationIDMapper::ListMappedModelIDs(
    CbArray<CyUniqueID, 0, CbArrayPolicyConstructDefault>& ids) const {
    CbCriticalSectionAuto lock(m_lock);
    m_referenceMap.ForEach([&](const CyUniqueID& id, const Mapped& /*mapped*/) { ids.Add(id); });
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
    WriteNodeForInstantiationUnmapped(stream, *node);
    mapHeld(node->GetID(), CbConstCast<KaCTransformationNode>(node));
}

void KaCTransformationNodeSerializationIDMapper::WriteNodeForInstantiationUnmapped(
    CbStreamWriteBinary& stream, const KaCTransformationNode& node) {
    // The class name and the ID go out in one piece.
    const std::vector<uint8_t>& name = encodedClassName(node);
    uint8_t record[c_maxRecordBytes];
    const CyUniqueID id = node.GetID();
    if (name.size() + 16 <= sizeof(record)) {
        std::memcpy(record, name.data(), name.size());
        std::memcpy(record + name.size(), id.GetBytes().data(), 16);
        stream.WriteBytes(record, name.size() + 16);
    } else {
        stream.WriteBuffer(name.data(), name.size());
        id.Serialize(stream);
    }
}

const std::vector<uint8_t>& KaCTransformationNodeSerializationIDMapper::encodedClassName(
    const KaCTransformationNode& node) {
    const CbRTTI& record = node.GetRTTI();
    if (m_encodedClass != &record) {
        CbStreamWriteBinaryBuffer encoded;
        encoded.WriteWideString(record.GetName());
        m_encodedClassName = encoded.TakeBuffer();
        m_encodedClass = &record;
    }
    return m_encodedClassName;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeSerializationIDMapper::instantiate(
    const CbRTTI* known, const std::wstring& className, const CyUniqueID& id) {
    // The two node classes are made directly with their ID, without drawing an ID, a name
    // and revisions that the record replaces at once; other classes through the factory.
    // A new node is counted without a locked instruction, so that making the next one need
    // not wait for this one's memory.
    if (known == &KaCTransformationNodeLeaf::RTTI) {
        if (!m_readTime) {
            m_readTime = CbDateTime();
        }
        return CbSmartPointer<KaCTransformationNode>::FromUnshared(
            new KaCTransformationNodeLeaf(id, *m_readTime));
    }
    if (known == &KaCTransformationNodeInner::RTTI) {
        return CbSmartPointer<KaCTransformationNode>::FromUnshared(
            new KaCTransformationNodeInner(id));
    }
    CbSmartPointer<KaCTransformationNode> node = CbCreateByName<KaCTransformationNode>(className);
    if (node) {
        node->setID(id);
        node->SetName(id.ToString());
    }
    return node;
}

CbSmartPointer<KaCTransformationNode>
KaCTransformationNodeSerializationIDMapper::ReadNodeAndInstantiate(CbStreamReadBinary& stream) {
    auto [id, node] = readInstantiationRecord(stream);
    mapInstantiated(id, node, false);
    return node;
}

std::vector<CbSmartPointer<KaCTransformationNode>>
KaCTransformationNodeSerializationIDMapper::ReadNodesAndInstantiate(CbStreamReadBinary& stream,
                                                                    uint32_t count) {
    std::vector<CbSmartPointer<KaCTransformationNode>> nodes;
    std::vector<CyUniqueID> ids;
    nodes.reserve(count);
    ids.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto [id, node] = readInstantiationRecord(stream);
        ids.push_back(id);
        nodes.push_back(std::move(node));
        if (!nodes.back()) {
            break;
        }
    }
    // The IDs are random, so each insertion lands on a random slot of a table larger than
    // the caches: with the slots of the next few IDs prefetched, the insertions overlap
    // their waits for memory instead of taking them one after the other.
    constexpr size_t c_prefetchDistance = 8;
    m_referenceMap.Reserve(m_referenceMap.GetCount() + ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        if (i + c_prefetchDistance < ids.size()) {
            m_referenceMap.Prefetch(ids[i + c_prefetchDistance]);
        }
        mapInstantiated(ids[i], nodes[i], true);
    }
    return nodes;
}

std::pair<CyUniqueID, CbSmartPointer<KaCTransformationNode>>
KaCTransformationNodeSerializationIDMapper::readInstantiationRecord(CbStreamReadBinary& stream) {
    // The class name, compared in its stream form with the names of the two node classes
    // before it is decoded (as ReadWideString reads it), and the ID.
    const uint32_t units = stream.ReadCount(sizeof(uint16_t), "wide string");
    std::wstring className;
    const CbRTTI* known = nullptr;
    CyUniqueID id = CyUniqueID::GetInvalidID();
    constexpr uint32_t c_shortUnits = 64;
    if (units <= c_shortUnits) {
        // The name and the ID in one block.
        uint8_t scratch[2 * c_shortUnits + 16];
        const uint8_t* block = stream.ReadBlock(scratch, 2 * units + 16);
        for (const KnownClass& candidate : knownClasses()) {
            if (candidate.units.size() == 2 * size_t{units} &&
                std::memcmp(candidate.units.data(), block, 2 * size_t{units}) == 0) {
                known = candidate.record;
                break;
            }
        }
        if (known == nullptr) {
            uint16_t name[c_shortUnits];
            for (uint32_t i = 0; i < units; ++i) {
                name[i] = CbByteOrder::load<uint16_t>(block + 2 * i);
            }
            className = CbFromUtf16(name, units);
        }
        id = CyUniqueID::FromBytes(block + 2 * units);
    } else {
        std::vector<uint16_t> name(units);
        stream.ReadUInt16Array(name.data(), units);
        className = CbFromUtf16(name.data(), units);
        id.Serialize(stream);
    }
    if (!id.IsValid()) {
        // The invalid ID stands for "no node" in references: no node can carry it.
        CB_THROW(CbException,
                 "KaCTransformationNodeSerializationIDMapper: a node record with the invalid ID");
    }
    return {id, instantiate(known, className, id)};
}

void KaCTransformationNodeSerializationIDMapper::mapInstantiated(
    const CyUniqueID& id, const CbSmartPointer<KaCTransformationNode>& node, bool callerHoldsNode) {
    auto [mapped, added] = m_referenceMap.TryEmplace(id);
    if (!added || m_instantiated.size() >= c_none || m_held.size() >= c_none) {
        // A repeated ID replaces the earlier node, which m_instantiated still lists; the map
        // holds the replacement itself.
        hold(*mapped, added, node);
        return;
    }
    *mapped = Mapped{static_cast<uint32_t>(m_instantiated.size()), c_none};
    m_instantiated.push_back({id, node.Get()});
    if (!callerHoldsNode) {
        mapped->held = static_cast<uint32_t>(m_held.size());
        m_held.push_back(node);
    }
}
