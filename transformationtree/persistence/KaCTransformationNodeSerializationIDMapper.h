#pragma once

#include "platform/harbor/CbArray.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbMap.h"
#include "platform/harbor/CbSingleton.h"
#include "platform/lattice/CyUniqueID.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Resolves node references in streams. Records never embed a node; they name it by ID.
// Writing a node for instantiation stores its class name and ID and maps the node;
// reading such a record creates a node of that class through its factory, gives it the
// stored ID and maps it; every node reference read afterwards is looked up in the map.
//
// Protocol: ClearMapping; instantiate (or SetNode) every node; read the records that refer
// to them; ClearMapping again to release the nodes, which the map holds strongly.
// Thread safety: SetNode, ClearMapping and ListMappedModelIDs take the mapper's lock; the
// other operations do not, so a caller that shares the mapper between threads holds
// GetCriticalSection() (recursive) around its whole sequence of calls.
class KaCTransformationNodeSerializationIDMapper
    : public CbSingleton<KaCTransformationNodeSerializationIDMapper> {
public:
    CbCriticalSection& GetCriticalSection() { return m_lock; }

    // Removes every entry, releasing the nodes.
    void ClearMapping();
    // Maps `id` to `node`, replacing an earlier mapping; a null node leaves `id` mapped to
    // no node.
    void SetNode(const CyUniqueID& id, CbSmartPointer<const KaCTransformationNode> node);
    // The node mapped to `id`, or null; never adds an entry.
    CbSmartPointer<KaCTransformationNode> GetNode(const CyUniqueID& id);
    // Appends every mapped ID, those mapped to no node included, in the map's order.
    void ListMappedModelIDs(CbArray<CyUniqueID, 0, CbArrayPolicyConstructDefault>& ids) const;

    // A node reference: the node's ID, or the invalid ID for null. The map is not used.
    void WriteNodeByReference(CbStreamWriteBinary& stream,
                              CbSmartPointer<const KaCTransformationNode> node);
    CbSmartPointer<KaCTransformationNode> ReadNodeByReference(CbStreamReadBinary& stream);
    // The node's class name and ID; maps the ID to the node. A null `node` throws
    // CbExceptionPreconditionViolation before anything is written.
    void WriteNodeForInstantiation(CbStreamWriteBinary& stream,
                                   CbSmartPointer<const KaCTransformationNode> node);
    // Creates the node named by the record through its class's factory, gives it the stored
    // ID and maps it. A class without usable factory maps the ID to no node and returns null.
    // A record with the invalid (all-zero) ID throws CbException and maps nothing.
    CbSmartPointer<KaCTransformationNode> ReadNodeAndInstantiate(CbStreamReadBinary& stream);

private:
    friend class CbSingleton<KaCTransformationNodeSerializationIDMapper>;

    KaCTransformationNodeSerializationIDMapper();
    ~KaCTransformationNodeSerializationIDMapper() override = default;

    mutable CbCriticalSection m_lock;
    CbMap<CyUniqueID, CbSmartPointer<KaCTransformationNode>> m_referenceMap;
};
