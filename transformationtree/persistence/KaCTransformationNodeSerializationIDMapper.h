#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/harbor/CbArray.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbDateTime.h"
#include "platform/harbor/CbFlatMap.h"
#include "platform/harbor/CbSingleton.h"
#include "platform/lattice/CyUniqueID.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Resolves node references in streams. Records never embed a node; they name it by ID.
// Writing a node for instantiation stores its class name and ID and maps the node;
// reading such a record creates a node of that class through its factory, gives it the
// stored ID and maps it; every node reference read afterwards is looked up in the map.
//
// Protocol: ClearMapping; instantiate (or SetNode) every node; read the records that refer
// to them; ClearMapping again to release the nodes, which the map holds strongly (except
// those of ReadNodesAndInstantiate, which its caller holds).
// Thread safety: SetNode, ClearMapping and ListMappedModelIDs take the mapper's lock; the
// other operations do not, so a caller that shares the mapper between threads holds
// GetCriticalSection() (recursive) around its whole sequence of calls.
class KaCTransformationNodeSerializationIDMapper
    : public CbSingleton<KaCTransformationNodeSerializationIDMapper> {
public:
    CbCriticalSection& GetCriticalSection() { return m_lock; }

    // Removes every entry, releasing the nodes. The table of a mapping of up to 131,072
    // entries (7 MiB) is kept for the next use; a larger one is freed.
    void ClearMapping();
    // Makes room for `count` entries, so that mapping that many nodes allocates nothing
    // more. Callers pass a count they have checked against the bytes of their stream.
    void ReserveMapping(size_t count);
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
    // The node a reference read from a stream names (null for none), without a reference
    // for the caller: the node lives at least as long as it stays mapped (the map holds
    // it), which is enough for a reader that only links it.
    KaCTransformationNode* ResolveNodeReference(const CyUniqueID& id) { return findMapped(id); }
    // True while every node made by ReadNodeAndInstantiate or ReadNodesAndInstantiate since
    // ClearMapping is still mapped under the ID it was made with: no ID was made twice and
    // no mapping was replaced.
    bool InstantiatedNodesKeepTheirMapping() const { return m_instantiatedValid; }
    // The node's class name and ID; maps the ID to the node. A null `node` throws
    // CbExceptionPreconditionViolation before anything is written.
    void WriteNodeForInstantiation(CbStreamWriteBinary& stream,
                                   CbSmartPointer<const KaCTransformationNode> node);
    // The same record without mapping the node, for writers that refer to nodes by ID only
    // (writing a reference never looks at the map).
    void WriteNodeForInstantiationUnmapped(CbStreamWriteBinary& stream,
                                           const KaCTransformationNode& node);
    // Creates the node named by the record, carrying the stored ID and named after it, and
    // maps it. The two node classes are made directly (no ID, name or revision is drawn for
    // them; the leaves made between two ClearMapping calls share one time stamp, taken at
    // the first), other classes through their factory. A class without usable factory maps the ID
    // to no node and returns null. A record with the invalid (all-zero) ID throws CbException and
    // maps nothing.
    CbSmartPointer<KaCTransformationNode> ReadNodeAndInstantiate(CbStreamReadBinary& stream);
    // ReadNodeAndInstantiate for `count` records in a row, which are mapped together after
    // all are read (quicker for many: the map is filled in one pass). Stops after the first
    // record whose class cannot be created, whose null is then the last element; the list
    // is shorter than `count` then. When a record throws, none of the records is mapped.
    // Unlike ReadNodeAndInstantiate the map does not hold these nodes: the caller keeps the
    // list until ClearMapping (so that mapping and clearing never touch the nodes, which a
    // large tree's reading no longer has in the caches by then).
    std::vector<CbSmartPointer<KaCTransformationNode>> ReadNodesAndInstantiate(
        CbStreamReadBinary& stream, uint32_t count);

private:
    friend class CbSingleton<KaCTransformationNodeSerializationIDMapper>;

    KaCTransformationNodeSerializationIDMapper();
    ~KaCTransformationNodeSerializationIDMapper() override = default;

    // The class name of `node` as it goes into a stream (the count and UTF-16 units),
    // encoded once per class.
    const std::vector<uint8_t>& encodedClassName(const KaCTransformationNode& node);
    // A new node carrying `id` and named after it, or null when the class cannot be
    // created: of the node class `known` when that is not null (one of the two node
    // classes), otherwise of the class named `className`.
    CbSmartPointer<KaCTransformationNode> instantiate(const CbRTTI* known,
                                                      const std::wstring& className,
                                                      const CyUniqueID& id);

    // Reads a node-for-instantiation record and makes its node (null for a class that cannot
    // be created); maps nothing.
    std::pair<CyUniqueID, CbSmartPointer<KaCTransformationNode>> readInstantiationRecord(
        CbStreamReadBinary& stream);
    // Maps `id` to the node made for its record; the map holds the node unless the caller
    // promises to (see ReadNodesAndInstantiate).
    void mapInstantiated(const CyUniqueID& id, const CbSmartPointer<KaCTransformationNode>& node,
                         bool callerHoldsNode);

    // The longest node-for-instantiation record written in one piece.
    static constexpr size_t c_maxRecordBytes = 256;

    // Where the node mapped to an ID is found (m_instantiated[instantiation], otherwise
    // m_held[held]) and whether the map holds it (m_held[held]). Plain values, so that
    // clearing the map takes constant time however many nodes it mapped.
    struct Mapped {
        uint32_t instantiation;
        uint32_t held;
    };
    static constexpr uint32_t c_none = UINT32_MAX;
    // Maps `id` to `node`, held by the map, replacing an earlier mapping.
    void mapHeld(const CyUniqueID& id, CbSmartPointer<KaCTransformationNode> node);
    // Points the entry `mapped` (just `added` or not) at `node`, held by the map.
    void hold(Mapped& mapped, bool added, CbSmartPointer<KaCTransformationNode> node);

    struct Instantiated {
        CyUniqueID id;
        KaCTransformationNode*
            node;  // kept alive by the map or by ReadNodesAndInstantiate's caller
    };

    // The node mapped to `id` as found through m_instantiated, or null when the guess
    // missed. Records mostly refer to the node they referred to last (the father of
    // siblings) or to the one instantiated right after it (the children of a node, the
    // nodes in record order), which are found without a random access to the map.
    KaCTransformationNode* findNear(const CyUniqueID& id) const;
    // The node mapped to `id`, or null; the map keeps it alive.
    KaCTransformationNode* findMapped(const CyUniqueID& id);

    mutable CbCriticalSection m_lock;
    CbFlatMap<CyUniqueID, Mapped> m_referenceMap;
    // The nodes the map holds (null for an ID mapped to no node).
    std::vector<CbSmartPointer<KaCTransformationNode>> m_held;
    // The nodes made by ReadNodeAndInstantiate in order, with the IDs they are mapped to.
    // Valid while every entry is still mapped as it was made (m_instantiatedValid: no ID
    // was instantiated twice and SetNode and WriteNodeForInstantiation were not used).
    std::vector<Instantiated> m_instantiated;
    bool m_instantiatedValid = true;
    // Index in m_instantiated of the node GetNode found last.
    mutable size_t m_lastFound = 0;
    // The class whose name encodedClassName encoded last, and that encoding.
    const CbRTTI* m_encodedClass = nullptr;
    std::vector<uint8_t> m_encodedClassName;
    // The time stamp of the leaves read since the last ClearMapping, taken at the first.
    std::optional<CbDateTime> m_readTime;
};
