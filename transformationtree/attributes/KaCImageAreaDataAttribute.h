#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/granary/CySurfelCollectionBase.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/mosaic/KaARTTIAttribute.h"

class KaCTransformationNodeInner;

// The state of one scanned area: its correlation against another object, jaw-relaxation and
// impression-scan data, revisions by which the application tells what changed, and the count
// of queued area correlation tasks. Only that count is locked; callers that share the other
// fields take GetCriticalSection(). Reads versions 0 to 3; any other version throws
// CbExceptionWrongFileVersion before anything changes, and a record that breaks off throws
// CbException, leaving the fields read so far changed. No clone function.
class KaCImageAreaDataAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    // The enumerators are this library's choice; only 0, the default, is fixed. Records
    // carry the level as a signed 32-bit value, which is kept as it is.
    enum ECorrelationLevel : int32_t {
        eCorrelationLevelNone = 0,    // not correlated
        eCorrelationLevelCoarse = 1,  // roughly placed
        eCorrelationLevelFine = 2,    // registered
    };
    // Seconds since 1970-01-01 UTC.
    using TimeStamp = int64_t;

    // All fields at the defaults of ResetAttribute().
    KaCImageAreaDataAttribute();
    ~KaCImageAreaDataAttribute() override = default;
    KaCImageAreaDataAttribute(const KaCImageAreaDataAttribute&) = delete;
    KaCImageAreaDataAttribute& operator=(const KaCImageAreaDataAttribute&) = delete;

    std::wstring GetCorrelationObjectID() const { return m_correlationObjectID; }
    void SetCorrelationObjectID(std::wstring id) { m_correlationObjectID = std::move(id); }
    bool GetIsCorrelated() const { return m_isCorrelated; }
    void SetIsCorrelated(bool value) { m_isCorrelated = value; }
    ECorrelationLevel GetCorrelationLevel() const { return m_correlationLevel; }
    void SetCorrelationLevel(ECorrelationLevel level) { m_correlationLevel = level; }
    const CbMatrix4Rf& GetCorrelationTrafo() const { return m_correlationTrafo; }
    CbMatrix4Rf GetCorrelationMatrix() const { return m_correlationTrafo; }
    void SetCorrelationTrafo(const CbMatrix4Rf& trafo) { m_correlationTrafo = trafo; }
    float GetCorrelationError() const { return m_correlationError; }
    void SetCorrelationError(float error) { m_correlationError = error; }
    bool GetIsJawRelaxed() const { return m_isJawRelaxed; }
    void SetIsJawRelaxed(bool value) { m_isJawRelaxed = value; }
    const CbMatrix4Rf& GetJawRelaxationTrafo() const { return m_jawRelaxationTrafo; }
    void SetJawRelaxationTrafo(const CbMatrix4Rf& trafo) { m_jawRelaxationTrafo = trafo; }
    bool GetIsImpressionScan() const { return m_isImpressionScan; }
    void SetIsImpressionScan(bool value) { m_isImpressionScan = value; }
    CbSmartPointer<CySurfelCollectionBase> GetAnimation() const { return m_animation; }
    void SetAnimation(CbSmartPointer<CySurfelCollectionBase> animation) {
        m_animation = std::move(animation);
    }
    const CbMatrix4Rf& GetLastSuccessfulCorrelationTrafo() const {
        return m_lastSuccessfulCorrelationTrafo;
    }
    void SetLastSuccessfulCorrelationTrafo(const CbMatrix4Rf& trafo) {
        m_lastSuccessfulCorrelationTrafo = trafo;
    }
    int64_t GetLastNodeRevisionState() const { return m_lastNodeRevisionState; }
    void SetLastNodeRevisionState(int64_t revision) { m_lastNodeRevisionState = revision; }
    int64_t GetLastNodeRevisionData() const { return m_lastNodeRevisionData; }
    void SetLastNodeRevisionData(int64_t revision) { m_lastNodeRevisionData = revision; }
    int64_t GetLastAreaCorrelationRevision() const { return m_lastAreaCorrelationRevision; }
    void SetLastAreaCorrelationRevision(int64_t revision) {
        m_lastAreaCorrelationRevision = revision;
    }
    int64_t GetLastRefAreaCorrelationRevision() const { return m_lastRefAreaCorrelationRevision; }
    void SetLastRefAreaCorrelationRevision(int64_t revision) {
        m_lastRefAreaCorrelationRevision = revision;
    }
    std::wstring GetLastGUIDState() const { return m_lastGUIDState; }
    void SetLastGUIDState(std::wstring guid) { m_lastGUIDState = std::move(guid); }
    std::wstring GetLastGUIDData() const { return m_lastGUIDData; }
    void SetLastGUIDData(std::wstring guid) { m_lastGUIDData = std::move(guid); }
    std::wstring GetLastGUIDCorr() const { return m_lastGUIDCorr; }
    void SetLastGUIDCorr(std::wstring guid) { m_lastGUIDCorr = std::move(guid); }
    TimeStamp GetTimeChanged() const { return m_timeChanged; }
    void SetTimeChanged(TimeStamp time) { m_timeChanged = time; }
    int64_t GetLastGUIDRevisionState() const { return m_lastGUIDRevisionState; }
    void SetLastGUIDRevisionState(int64_t revision) { m_lastGUIDRevisionState = revision; }
    int64_t GetLastGUIDRevisionData() const { return m_lastGUIDRevisionData; }
    void SetLastGUIDRevisionData(int64_t revision) { m_lastGUIDRevisionData = revision; }

    // The task counter, under the lock. It is unsigned and unchecked: decrementing 0 gives
    // 4294967295. Increment and decrement return the new count.
    unsigned int GetNumEnqueuedAreaCorrelationTasks() const;
    unsigned int IncrementEnqueuedAreaCorrelationTasks();
    unsigned int DecrementEnqueuedAreaCorrelationTasks();

    // The lock for callers that update or read several fields together.
    CbCriticalSection& GetCriticalSection() const { return m_lock; }

    // The identity, or for an impression scan the half turn about the y axis
    // (diagonal -1, 1, -1, 1).
    CbMatrix4Rf GetImpressionMatrix() const;

    // Resets the attribute, then, for a node, takes its subtree revision of every kind as
    // the last node revision state and both area correlation revisions, and its data
    // revision as the last node revision data.
    void InitFromAreaNode(CbSmartPointer<KaCTransformationNodeInner> areaNode);

    // A multi-line description of every field for diagnostics. The addresses of the
    // attribute and of the animation are printed with "%X", that is their low 32 bits, and
    // the 64-bit revisions with "%d", their low 32 bits as a signed value.
    std::wstring ToString() const;

    // Every field back to its default, the animation released; does not take the lock.
    // Returns true.
    bool ResetAttribute() override;

    // Record: the version (3) as a plain unsigned 32-bit value, then the fields of
    // writeVersion3. Reads versions 0 to 3; fields a version lacks keep their values.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    CB_DECLARE_CREATE_FACTORY(KaCImageAreaDataAttribute)

    // Each reads or writes the complete record of its version (without the version number).
    void readVersion0(CbStreamReadBinary& stream);
    void readVersion1(CbStreamReadBinary& stream);
    void readVersion2(CbStreamReadBinary& stream);
    void readVersion3(CbStreamReadBinary& stream);
    void writeVersion0(CbStreamWriteBinary& stream) const;
    void writeVersion1(CbStreamWriteBinary& stream) const;
    void writeVersion2(CbStreamWriteBinary& stream) const;
    void writeVersion3(CbStreamWriteBinary& stream) const;

    std::wstring m_correlationObjectID;
    bool m_isCorrelated = false;
    ECorrelationLevel m_correlationLevel = eCorrelationLevelNone;
    CbMatrix4Rf m_correlationTrafo;
    float m_correlationError = 0.0f;
    bool m_isJawRelaxed = false;
    CbMatrix4Rf m_jawRelaxationTrafo;
    bool m_isImpressionScan = false;
    CbSmartPointer<CySurfelCollectionBase> m_animation;
    CbMatrix4Rf m_lastSuccessfulCorrelationTrafo;
    int64_t m_lastNodeRevisionState = -1;
    int64_t m_lastNodeRevisionData = -1;
    int64_t m_lastAreaCorrelationRevision = -1;
    int64_t m_lastRefAreaCorrelationRevision = -1;
    std::wstring m_lastGUIDState;
    std::wstring m_lastGUIDData;
    std::wstring m_lastGUIDCorr;
    TimeStamp m_timeChanged = 0;
    int64_t m_lastGUIDRevisionState = -1;
    int64_t m_lastGUIDRevisionData = -1;
    // Changed under m_lock; atomic so that ToString and ResetAttribute, which do not take
    // the lock, cannot race with a thread that counts.
    std::atomic<uint32_t> m_numEnqueuedAreaCorrelationTasks{0};
    mutable CbCriticalSection m_lock;
};
