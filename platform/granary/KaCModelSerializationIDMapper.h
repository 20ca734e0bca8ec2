#pragma once

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/granary/KaCModelCCT.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbSingleton.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbWeakPointer.h"
#include "platform/lattice/CyUniqueID.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// Model references in streams: records name a model by its ID, and self-contained model
// records carry the models; while one stream is read, every reference to a model resolves
// to the one shared object that its model record made.
// Thread-safe: every operation takes the mapper's lock (recursive; GetCriticalSection hands
// it out for sequences of calls). Stream errors and corrupt records throw CbException.
class KaCModelSerializationIDMapper : public CbSingleton<KaCModelSerializationIDMapper> {
public:
    // Protocol. Writing: ClearMapping; write references with WriteModelByReference, which
    // remembers the models; write GetReferencedModels() (each once, in first-reference
    // order) with WriteModel where the reader will meet them before the references. Reading:
    // ClearMapping; ReadModel for each model record (this maps the IDs); read the
    // references; ClearMapping to release the models.
    // Model record: class name (wide string), payload byte count (uint64), payload (the
    // model's metadata record, then its geometry record).

    // Writes the model's ID (the invalid ID for null) and remembers a non-null model as
    // referenced, once per ID, without keeping it alive.
    static void WriteModelByReference(CbStreamWriteBinary& stream,
                                      CbSmartPointer<const KaCModelCCT> model);
    // What WriteModelByReference does for records that assemble their bytes themselves:
    // remembers a non-null model as referenced and returns the ID a reference to it holds.
    static const CyUniqueID& ReferenceModel(const CbSmartPointer<const KaCModelCCT>& model);
    // Reads an ID; the model mapped to it, or null for the invalid ID. Any other ID that
    // names no mapped model throws CbException: the record refers to a model it lacks.
    CbSmartPointer<const KaCModelCCT> ReadModelByReference(CbStreamReadBinary& stream);
    // The model a reference read from a stream names: null for the invalid ID; throws as
    // ReadModelByReference does for an ID no model record holds.
    CbSmartPointer<const KaCModelCCT> ResolveModelReference(const CyUniqueID& id);

    // Writes a model record; a null `model` throws. Does not change the mapping. The model is
    // serialised twice, first only to count its bytes (the count precedes the payload) and
    // then into `stream`, so that a large model is not copied through a buffer; a model
    // whose two serialisations differ in size throws CbException.
    void WriteModel(CbStreamWriteBinary& stream, CbSmartPointer<const KaCModelCCT> model);
    // Reads a model record: creates the model by its class name, reads it and maps its ID to
    // it. A class that cannot be created as a KaCModelCCT is skipped by its byte count and
    // gives null; a payload that its class does not read exactly, and an ID that is mapped
    // already (two models with one ID), throw CbException.
    CbSmartPointer<KaCModelCCT> ReadModel(CbStreamReadBinary& stream);

    // Maps `id` to `model` (null removes the mapping).
    void SetModel(const CyUniqueID& id, CbSmartPointer<const KaCModelCCT> model);
    CbSmartPointer<const KaCModelCCT> GetModel(const CyUniqueID& id);
    // The models written by reference since the last ClearMapping that are still alive, in
    // first-reference order, each ID once. The mapper keeps only weak references to them, so
    // writing references never keeps a scan in memory after its owner dropped it.
    std::vector<CbSmartPointer<const KaCModelCCT>> GetReferencedModels();
    // Forgets every mapping and every referenced model.
    void ClearMapping();
    CbCriticalSection& GetCriticalSection() { return m_cs; }

private:
    friend class CbSingleton<KaCModelSerializationIDMapper>;
    KaCModelSerializationIDMapper() = default;
    ~KaCModelSerializationIDMapper() override = default;

    void rememberReferenced(const CbSmartPointer<const KaCModelCCT>& model);

    CbCriticalSection m_cs;
    std::unordered_map<CyUniqueID, CbSmartPointer<const KaCModelCCT>> m_models;
    std::vector<CbWeakPointer<const KaCModelCCT>> m_referenced;
    std::unordered_set<CyUniqueID> m_referencedIds;
    // The ID remembered last (in m_referencedIds while valid): the nodes of a tree mostly
    // refer to the model their neighbour referred to, which then needs no set lookup.
    CyUniqueID m_lastReferencedId = CyUniqueID::GetInvalidID();
    // The reference resolved last, and the model it named (reset by every change of the map).
    CyUniqueID m_lastReadId = CyUniqueID::GetInvalidID();
    CbSmartPointer<const KaCModelCCT> m_lastReadModel;
};
