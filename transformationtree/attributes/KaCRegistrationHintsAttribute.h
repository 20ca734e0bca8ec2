#pragma once

#include <cstdint>
#include <vector>

#include "platform/granary/CySurfelCollectionBase.h"
#include "platform/granary/CyTriangulationBase.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// Registration hints computed for a node: a surfel collection, its display mode, the state of
// its computation, triangulations and the node revision they were computed for. Collection,
// mode and status are locked, also for a whole Serialize; triangulations and revision are the
// caller's to serialise. An unknown record version throws CbExceptionWrongFileVersion before
// anything changes; stream errors propagate. Cloneable: the copy shares only the collection's
// content.
class KaCRegistrationHintsAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    // The enumerators of both enumerations are this library's choice; only 0, the default,
    // is fixed. Records carry the display mode as an unsigned 32-bit value, kept as it is.
    enum ESurfelCollectionDisplayMode : uint32_t {
        eDisplayModeHidden = 0,     // not shown
        eDisplayModeHighlight = 1,  // shown on top of the scan data
        eDisplayModeOverlay = 2,    // blended with the scan data
    };
    enum EComputationStatus : uint32_t {
        eComputationStatusNotComputed = 0,
        eComputationStatusPending = 1,
        eComputationStatusRunning = 2,
        eComputationStatusComputed = 3,
        eComputationStatusFailed = 4,
    };
    using TriangulationVector = std::vector<CbSmartPointer<CyTriangulationBase>>;

    KaCRegistrationHintsAttribute() = default;
    ~KaCRegistrationHintsAttribute() override = default;
    KaCRegistrationHintsAttribute& operator=(const KaCRegistrationHintsAttribute&) = delete;

    CbSmartPointer<const CySurfelCollectionBase> GetRegistrationHintSurfelCollection() const;
    // Keeps the given collection (no copy).
    void SetRegistrationHintSurfelCollection(CbSmartPointer<CySurfelCollectionBase> collection);
    ESurfelCollectionDisplayMode GetDisplayMode() const;
    void SetDisplayMode(ESurfelCollectionDisplayMode mode);
    EComputationStatus GetComputationStatus() const;
    void SetComputationStatus(EComputationStatus status);

    int64_t GetHintsComputedRevision() const { return m_hintsComputedRevision; }
    void SetHintsComputedRevision(int64_t revision) { m_hintsComputedRevision = revision; }

    const TriangulationVector& GetTriangulations() const { return m_triangulations; }
    // Replaces the entries by the given ones (shared, not copied).
    void SetTriangulations(const TriangulationVector& triangulations);

    // Releases the collection, sets display mode and computation status to 0 and empties
    // the triangulations; the computed revision is kept. Returns true.
    bool ResetAttribute() override;

    // Record: version 1, the display mode (unsigned 32-bit), then the surfel collection
    // block (KaCSurfelCollectionBlock). Computation status, triangulations and revision
    // are not stored.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    // The copy holds a clone of the source's collection, made through the registry (null
    // when the collection's class has no clone function); its display mode, computation
    // status and revision are the defaults (0, 0, -1) and it has no triangulations.
    KaCRegistrationHintsAttribute(const KaCRegistrationHintsAttribute& other);

    CB_DECLARE_FACTORIES(KaCRegistrationHintsAttribute)

    mutable CbCriticalSection m_lock;
    CbSmartPointer<const CySurfelCollectionBase> m_registrationHintSurfelCollection;
    ESurfelCollectionDisplayMode m_displayMode = eDisplayModeHidden;
    EComputationStatus m_computationStatus = eComputationStatusNotComputed;
    TriangulationVector m_triangulations;
    int64_t m_hintsComputedRevision = -1;
};
