#pragma once

#include <cstdint>

#include "platform/granary/CySurfelCollectionBase.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// A surfel collection that warns about disconnected components of a node's scan data, with
// the node revision for which it was computed.
// The collection is guarded by the attribute's lock, which both Serialize operations hold
// for the whole record; the revision is not guarded (the caller serialises access). An
// unknown record version throws CbExceptionWrongFileVersion before anything changes;
// stream errors propagate. Cloneable: the copy holds a clone of the collection.
class KaCDisconnectedComponentWarningAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    KaCDisconnectedComponentWarningAttribute() = default;
    ~KaCDisconnectedComponentWarningAttribute() override = default;
    KaCDisconnectedComponentWarningAttribute& operator=(
        const KaCDisconnectedComponentWarningAttribute&) = delete;

    CbSmartPointer<const CySurfelCollectionBase> GetWarningSurfelCollection() const;
    // Keeps the given collection (no copy).
    void SetWarningSurfelCollection(CbSmartPointer<const CySurfelCollectionBase> collection);

    int64_t GetWarningComputedRevision() const { return m_warningComputedRevision; }
    void SetWarningComputedRevision(int64_t revision) { m_warningComputedRevision = revision; }

    // Releases the collection; the computed revision is kept. Returns true.
    bool ResetAttribute() override;

    // Record: version 1, then the surfel collection block (KaCSurfelCollectionBlock) of the
    // collection. The computed revision is not stored.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    // The copy holds a clone of the source's collection, made through the registry (null
    // when the collection's class has no clone function), and the default revision -1: it
    // was computed for no node revision yet.
    KaCDisconnectedComponentWarningAttribute(const KaCDisconnectedComponentWarningAttribute& other);

    CB_DECLARE_FACTORIES(KaCDisconnectedComponentWarningAttribute)

    mutable CbCriticalSection m_lock;
    CbSmartPointer<const CySurfelCollectionBase> m_warningSurfelCollection;
    int64_t m_warningComputedRevision = -1;
};
