#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/IObject.h"
#include "platform/lattice/CyUniqueID.h"
#include "platform/prism/CyBoundingBox3D.h"

// One scan's model: a main surfel collection, optional per-type collections that replace it
// for their type, and metadata (ID, file name, acquisition sequence number).
// Thread safety: const operations may run concurrently; SetFilename is const and has its
// own lock, so it may run beside readers; every other change needs exclusive access. Bad
// collection types, failed creation and bad stream input throw CbException; an unknown
// record version throws CbExceptionWrongFileVersion.
class KaCModelCCT : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    // A model built from one collection serves every type from it. The model shares the
    // collections it is given: callers do not change a collection after handing it over.
    // Copies (clones) copy the collections deeply and get a new ID.
    enum ESurfelCollectionType {
        eSurfelCollectionTypeRaw = 0,
        eSurfelCollectionTypeFiltered = 1,
        eSurfelCollectionTypeStandard = 2,
        eSurfelCollectionTypeRegistration = 3,
        eSurfelCollectionTypeHighResolution = 4,
    };
    static constexpr uint32_t ms_nrCollectionTypes = 5;

    // See the protected constructor.
    static CbSmartPointer<KaCModelCCT> Create(CbSmartPointer<KaCSurfelCollectionCCT> collection,
                                              bool updateBoundingBox);
    ~KaCModelCCT() override = default;

    // The collection set for `type`, else the main collection (which may be null).
    CbSmartPointer<const KaCSurfelCollectionCCT> GetSurfelCollection(
        ESurfelCollectionType type) const;
    // Sets the collection served for `type`; null makes the type fall back to the main one.
    void SetSurfelCollection(ESurfelCollectionType type,
                             CbSmartPointer<KaCSurfelCollectionCCT> collection);
    // Replaces the main collection; collections set per type stay.
    void RenewSurfelCollection(CbSmartPointer<KaCSurfelCollectionCCT> collection);

    // The box of the standard collection (type 2) in model coordinates; empty without one.
    CyBoundingBox3D GetBoundingBox() const;
    const CyUniqueID& GetId() const { return m_id; }
    uint64_t GetAcquireSequenceNumber() const { return m_acquireSequenceNumber; }
    void SetAcquireSequenceNumber(uint64_t number) { m_acquireSequenceNumber = number; }
    std::wstring GetFilename() const;
    void SetFilename(const std::wstring& filename) const;

    // A new model of this model's class (made through its create function) with a new ID,
    // the same file name and sequence number, and every collection transformed: positions
    // by `transformation` (row vectors, p × M, in single precision), normals by its rotation
    // part. Collections shared between types stay shared.
    CbSmartPointer<KaCModelCCT> GetTransformedModel(const CbMatrix4Rd& transformation) const;

    // Record: version 1; bool main collection present, [its record]; uint32 number of
    // types with a collection of their own (at most 5), then per such type in ascending
    // order: uint32 type, bool same as the main collection, [the collection's record if
    // not]. The reader changes the model only once everything is read.
    void SerializeGeometry(CbStreamWriteBinary& stream) const;
    void SerializeGeometry(CbStreamReadBinary& stream);
    // Record: version 1, ID (16 bytes), file name (wide string), acquisition sequence
    // number (uint64). Reading sets all three.
    void SerializeMetaData(CbStreamWriteBinary& stream) const;
    void SerializeMetaData(CbStreamReadBinary& stream);

    // The mean of the finite surfel positions of the standard collection, in model
    // coordinates; the zero vector when there is none.
    CbVector3f GetMeanCenterInMeasureVolume() const;
    // The volume of the standard collection's bounding box, in cubic units of the surfel
    // positions (mm^3 for scanner data); 0 when the box is empty.
    double GetMeasureVolumeCVE() const;
    // Bytes held on the heap: each distinct collection object and its surfel memory, and
    // the file name.
    size_t GetUsedDynamicMemory() const;

protected:
    // For the create functions: no collection, a fresh ID.
    KaCModelCCT();
    // Holds `collection` (may be null) as the main collection; `updateBoundingBox` true
    // recomputes the collection's bounding box exactly first (UpdateBoundingBox).
    KaCModelCCT(CbSmartPointer<KaCSurfelCollectionCCT> collection, bool updateBoundingBox);
    // A deep copy with a new ID.
    KaCModelCCT(const KaCModelCCT& other);
    KaCModelCCT& operator=(const KaCModelCCT&) = delete;

    // Every distinct collection the model holds, main first.
    std::vector<KaCSurfelCollectionCCT*> getDistinctCollections() const;

private:
    CB_DECLARE_FACTORIES(KaCModelCCT)
    static void checkType(ESurfelCollectionType type);

    CbSmartPointer<KaCSurfelCollectionCCT> m_collection;
    std::array<CbSmartPointer<KaCSurfelCollectionCCT>, ms_nrCollectionTypes> m_typedCollections;
    CyUniqueID m_id;
    uint64_t m_acquireSequenceNumber = 0;
    mutable CbCriticalSection m_csFilename;
    mutable std::wstring m_filename;  // guarded by m_csFilename
};
