#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"

#include <cstdint>
#include <limits>
#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/lattice/CyUniqueID.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

CB_DEFINE_RTTI(KaCImageAreaDataAttribute, nullptr, &KaCImageAreaDataAttribute::CreateByFactory,
               nullptr)

namespace {
constexpr uint32_t c_currentVersion = 3;
// Every revision kind of a node (model and transformation).
constexpr unsigned int c_allRevisionKinds = 0xFFFFFFFFu;
// Area correlation revisions of a version-0 record whose area was correlated.
constexpr int64_t c_correlatedBeforeRevisions = -2;

static_assert(sizeof(KaCImageAreaDataAttribute::TimeStamp) == 8,
              "the time stamp is stored as its 8 bytes");

const wchar_t* yesNo(bool value) {
    return value ? L"Yes" : L"No";
}
const wchar_t* identityMark(const CbMatrix4Rf& matrix) {
    return matrix == c_matIdentityF ? L"==" : L"!=";
}
// The low 32 bits of an address, as "%X" prints it.
unsigned int addressBits(const void* address) {
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(address));
}
}  // namespace

KaCImageAreaDataAttribute::KaCImageAreaDataAttribute() {
    KaCImageAreaDataAttribute::ResetAttribute();
}

bool KaCImageAreaDataAttribute::ResetAttribute() {
    m_correlationObjectID = CyUniqueID::GetInvalidID().ToString();
    m_isCorrelated = false;
    m_correlationLevel = eCorrelationLevelNone;
    m_correlationTrafo = c_matIdentityF;
    m_correlationError = std::numeric_limits<float>::max();
    m_isJawRelaxed = false;
    m_jawRelaxationTrafo = c_matIdentityF;
    m_isImpressionScan = false;
    m_animation = nullptr;
    m_lastSuccessfulCorrelationTrafo = c_matIdentityF;
    m_lastNodeRevisionState = -1;
    m_lastNodeRevisionData = -1;
    m_lastAreaCorrelationRevision = -1;
    m_lastRefAreaCorrelationRevision = -1;
    m_lastGUIDState.clear();
    m_lastGUIDData.clear();
    m_lastGUIDCorr.clear();
    m_timeChanged = 0;
    m_lastGUIDRevisionState = -1;
    m_lastGUIDRevisionData = -1;
    m_numEnqueuedAreaCorrelationTasks.store(0);
    return true;
}

unsigned int KaCImageAreaDataAttribute::GetNumEnqueuedAreaCorrelationTasks() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_numEnqueuedAreaCorrelationTasks.load();
}

unsigned int KaCImageAreaDataAttribute::IncrementEnqueuedAreaCorrelationTasks() {
    CbCriticalSectionAuto lock(m_lock);
    const uint32_t count = m_numEnqueuedAreaCorrelationTasks.load() + 1u;
    m_numEnqueuedAreaCorrelationTasks.store(count);
    return count;
}

unsigned int KaCImageAreaDataAttribute::DecrementEnqueuedAreaCorrelationTasks() {
    CbCriticalSectionAuto lock(m_lock);
    const uint32_t count = m_numEnqueuedAreaCorrelationTasks.load() - 1u;
    m_numEnqueuedAreaCorrelationTasks.store(count);
    return count;
}

CbMatrix4Rf KaCImageAreaDataAttribute::GetImpressionMatrix() const {
    CbMatrix4Rf matrix = c_matIdentityF;
    if (m_isImpressionScan) {
        matrix(0, 0) = -1.0f;
        matrix(2, 2) = -1.0f;
    }
    return matrix;
}

void KaCImageAreaDataAttribute::InitFromAreaNode(
    CbSmartPointer<KaCTransformationNodeInner> areaNode) {
    ResetAttribute();
    if (!areaNode) {
        return;
    }
    m_lastNodeRevisionState = areaNode->GetNodeRevisionSubtree(c_allRevisionKinds);
    m_lastNodeRevisionData = areaNode->GetDataNodeRevisionSubtree();
    m_lastAreaCorrelationRevision = m_lastNodeRevisionState;
    m_lastRefAreaCorrelationRevision = m_lastNodeRevisionState;
}

std::wstring KaCImageAreaDataAttribute::ToString() const {
    return CbFormatW(
        L"KaCImageAreaDataAttribute Instance %X: \n\t%-30s: %d \n\t%-30s: %s \n\t%-30s: %s "
        L"\n\t%-30s: %d \n\t%-30s: %s identity\n\t%-30s: %f \n\t%-30s: %s \n\t%-30s: %s "
        L"identity\n\t%-30s: %s\n\t%-30s: %X\n\t%-30s: %s identity\n\t%-30s: %d \n\t%-30s: %d "
        L"\n\t%-30s: %d \n\t%-30s: %d \n\t%-30s: %s\n\t%-30s: %d\n\t%-30s: %s\n\t%-30s: "
        L"%d\n\t%-30s: %s",
        addressBits(this), L"running Tasks",
        static_cast<int>(m_numEnqueuedAreaCorrelationTasks.load()), L"corrObjID",
        m_correlationObjectID.c_str(), L"isCorr", yesNo(m_isCorrelated), L"corrLvl",
        static_cast<int>(m_correlationLevel), L"corrTrafo", identityMark(m_correlationTrafo),
        L"corrErr", static_cast<double>(m_correlationError), L"isJawRelaxed", yesNo(m_isJawRelaxed),
        L"jawRelaxTrafo", identityMark(m_jawRelaxationTrafo), L"isImpressionScan",
        yesNo(m_isImpressionScan), L"AnimationInstance", addressBits(m_animation.Get()),
        L"lastSucCorrTrafo", identityMark(m_lastSuccessfulCorrelationTrafo), L"lastNodeRevState",
        static_cast<int>(m_lastNodeRevisionState), L"lastNodeRevData",
        static_cast<int>(m_lastNodeRevisionData), L"lastAreaCorrRev",
        static_cast<int>(m_lastAreaCorrelationRevision), L"lastRefAreaCorrRev",
        static_cast<int>(m_lastRefAreaCorrelationRevision), L"lastGUID state",
        m_lastGUIDState.c_str(), L"lastGUIDRev state", static_cast<int>(m_lastGUIDRevisionState),
        L"lastGUID data", m_lastGUIDData.c_str(), L"lastGUIDRev data",
        static_cast<int>(m_lastGUIDRevisionData), L"lastGUID corr", m_lastGUIDCorr.c_str());
}

void KaCImageAreaDataAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteUInt32(c_currentVersion);
    writeVersion3(stream);
}

void KaCImageAreaDataAttribute::Serialize(CbStreamReadBinary& stream) {
    switch (stream.ReadAcceptedVersion("KaCImageAreaDataAttribute", {0, 1, 2, 3})) {
        case 0:
            readVersion0(stream);
            break;
        case 1:
            readVersion1(stream);
            break;
        case 2:
            readVersion2(stream);
            break;
        default:
            readVersion3(stream);
            break;
    }
}

void KaCImageAreaDataAttribute::readVersion0(CbStreamReadBinary& stream) {
    m_correlationObjectID = stream.ReadWideString();
    m_isCorrelated = stream.ReadBool();
    m_correlationLevel = static_cast<ECorrelationLevel>(stream.ReadInt32());
    m_correlationTrafo.Serialize(stream);
    m_correlationError = stream.ReadFloat();
    m_isJawRelaxed = stream.ReadBool();
    m_jawRelaxationTrafo.Serialize(stream);
    m_isImpressionScan = stream.ReadBool();
    m_lastNodeRevisionState = stream.ReadInt64();
    // Version 0 had no area correlation revisions: a correlated area is marked as
    // correlated before revisions were recorded, any other as never correlated.
    const int64_t correlationRevision = m_isCorrelated ? c_correlatedBeforeRevisions : -1;
    m_lastAreaCorrelationRevision = correlationRevision;
    m_lastRefAreaCorrelationRevision = correlationRevision;
    m_lastGUIDState = stream.ReadWideString();
    m_lastGUIDRevisionState = stream.ReadInt64();
}

void KaCImageAreaDataAttribute::readVersion1(CbStreamReadBinary& stream) {
    readVersion0(stream);
    m_lastAreaCorrelationRevision = stream.ReadInt64();
    m_lastRefAreaCorrelationRevision = stream.ReadInt64();
}

void KaCImageAreaDataAttribute::readVersion2(CbStreamReadBinary& stream) {
    readVersion1(stream);
    m_timeChanged = stream.ReadInt64();
}

void KaCImageAreaDataAttribute::readVersion3(CbStreamReadBinary& stream) {
    readVersion2(stream);
    m_lastNodeRevisionData = stream.ReadInt64();
    m_lastGUIDData = stream.ReadWideString();
    m_lastGUIDRevisionData = stream.ReadInt64();
    m_lastGUIDCorr = stream.ReadWideString();
}

void KaCImageAreaDataAttribute::writeVersion0(CbStreamWriteBinary& stream) const {
    stream.WriteWideString(m_correlationObjectID);
    stream.WriteBool(m_isCorrelated);
    stream.WriteInt32(m_correlationLevel);
    m_correlationTrafo.Serialize(stream);
    stream.WriteFloat(m_correlationError);
    stream.WriteBool(m_isJawRelaxed);
    m_jawRelaxationTrafo.Serialize(stream);
    stream.WriteBool(m_isImpressionScan);
    stream.WriteInt64(m_lastNodeRevisionState);
    stream.WriteWideString(m_lastGUIDState);
    stream.WriteInt64(m_lastGUIDRevisionState);
}

void KaCImageAreaDataAttribute::writeVersion1(CbStreamWriteBinary& stream) const {
    writeVersion0(stream);
    stream.WriteInt64(m_lastAreaCorrelationRevision);
    stream.WriteInt64(m_lastRefAreaCorrelationRevision);
}

void KaCImageAreaDataAttribute::writeVersion2(CbStreamWriteBinary& stream) const {
    writeVersion1(stream);
    stream.WriteInt64(m_timeChanged);
}

void KaCImageAreaDataAttribute::writeVersion3(CbStreamWriteBinary& stream) const {
    writeVersion2(stream);
    stream.WriteInt64(m_lastNodeRevisionData);
    stream.WriteWideString(m_lastGUIDData);
    stream.WriteInt64(m_lastGUIDRevisionData);
    stream.WriteWideString(m_lastGUIDCorr);
}
