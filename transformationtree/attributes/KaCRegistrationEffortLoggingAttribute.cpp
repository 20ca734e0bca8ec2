#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCRegistrationEffortLoggingAttribute, nullptr,
               &KaCRegistrationEffortLoggingAttribute::CreateByFactory, nullptr)

namespace {
constexpr uint32_t c_version = 1;
// The ICP failure codes, in the order in which the accumulated failure getters consult them.
constexpr int c_icpFailureCodes[] = {-1, 4, 7, 5, 6, 10};
// Reserved values of the record, written as 0.0 and dropped when read.
constexpr int c_reservedDoubles = 3;
constexpr unsigned int c_noEntry = 4294967295u;
constexpr double c_noTimeEntry = -1.0;

template <class V>
V entryOr(const CbMap<int, V>& map, int key, V fallback) {
    const V* value = map.Find(key);
    return value != nullptr ? *value : fallback;
}
}  // namespace

template <class V>
V KaCRegistrationEffortLoggingAttribute::firstFailureEntry(const CbMap<int, V>& map) {
    for (int code : c_icpFailureCodes) {
        if (const V* value = map.Find(code)) {
            return *value;
        }
    }
    return V{};
}

void KaCRegistrationEffortLoggingAttribute::AccumulateResultEfforts(int resultCode, double time,
                                                                    unsigned int iterations) {
    CbCriticalSectionAuto lock(m_lockA);
    m_resultEffortTime[resultCode] += time;
    m_resultEffortIterations[resultCode] += iterations;
    m_resultEffortNumRuns[resultCode] += 1;
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetResultEffortIterations(
    int resultCode) const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortIterations, resultCode, c_noEntry);
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetResultEffortNumRuns(int resultCode) const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortNumRuns, resultCode, c_noEntry);
}

double KaCRegistrationEffortLoggingAttribute::GetResultEffortTime(int resultCode) const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortTime, resultCode, c_noTimeEntry);
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPSuccessNumIterations() const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortIterations, ms_icpSuccess, 0u);
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPSuccessNumRuns() const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortNumRuns, ms_icpSuccess, 0u);
}

double KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPSuccessTime() const {
    CbCriticalSectionAuto lock(m_lockA);
    return entryOr(m_resultEffortTime, ms_icpSuccess, 0.0);
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPFailureNumIterations() const {
    CbCriticalSectionAuto lock(m_lockA);
    return firstFailureEntry(m_resultEffortIterations);
}

unsigned int KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPFailureNumRuns() const {
    CbCriticalSectionAuto lock(m_lockA);
    return firstFailureEntry(m_resultEffortNumRuns);
}

double KaCRegistrationEffortLoggingAttribute::GetAccumulatedICPFailureTime() const {
    CbCriticalSectionAuto lock(m_lockA);
    return firstFailureEntry(m_resultEffortTime);
}

double KaCRegistrationEffortLoggingAttribute::GetMaxNewtonError() const {
    CbCriticalSectionAuto lock(m_lockA);
    return m_maxNewtonError;
}

void KaCRegistrationEffortLoggingAttribute::SetMaxNewtonError(double error) {
    CbCriticalSectionAuto lock(m_lockA);
    m_maxNewtonError = error;
}

double KaCRegistrationEffortLoggingAttribute::GetMeanNewtonError() const {
    CbCriticalSectionAuto lock(m_lockA);
    return m_meanNewtonError;
}

void KaCRegistrationEffortLoggingAttribute::SetMeanNewtonError(double error) {
    CbCriticalSectionAuto lock(m_lockA);
    m_meanNewtonError = error;
}

void KaCRegistrationEffortLoggingAttribute::AddTimeStamp(const std::wstring& text) {
    CbCriticalSectionAuto lock(m_lockB);
    const double diff = m_timeMeasure.GetTimerDiff();
    const double total = m_timeMeasure.GetTimer();
    m_timeStampLog += CbFormatW(L"@%03.1f (%03.1f) %s\n", total, diff, text.c_str());
}

std::wstring KaCRegistrationEffortLoggingAttribute::GetTimeStampLog() const {
    CbCriticalSectionAuto lock(m_lockB);
    return m_timeStampLog;
}

void KaCRegistrationEffortLoggingAttribute::AddSubTaskDuration(const std::wstring& name,
                                                               double duration) {
    CbCriticalSectionAuto lock(m_lockC);
    m_subTaskDurationLog[name] += duration;
}

CbMap<std::wstring, double> KaCRegistrationEffortLoggingAttribute::GetSubTaskDurationLog() const {
    CbCriticalSectionAuto lock(m_lockC);
    return m_subTaskDurationLog;
}

bool KaCRegistrationEffortLoggingAttribute::ResetAttribute() {
    CbCriticalSectionAuto lockA(m_lockA);
    m_maxNewtonError = 0.0;
    m_meanNewtonError = 0.0;
    m_resultEffortTime.RemoveAll();
    m_resultEffortIterations.RemoveAll();
    m_resultEffortNumRuns.RemoveAll();
    CbCriticalSectionAuto lockB(m_lockB);
    m_timeStampLog.clear();
    CbCriticalSectionAuto lockC(m_lockC);
    m_subTaskDurationLog.RemoveAll();
    return true;
}

void KaCRegistrationEffortLoggingAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
    writeVersion1(stream);
}

void KaCRegistrationEffortLoggingAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCRegistrationEffortLoggingAttribute", {c_version});
    readVersion1(stream);
}

void KaCRegistrationEffortLoggingAttribute::readVersion1(CbStreamReadBinary& stream) {
    m_legacyValue5 = stream.ReadUInt32();
    m_legacyValue6 = stream.ReadUInt32();
    m_legacyValue1 = stream.ReadUInt32();
    m_legacyValue2 = stream.ReadUInt32();
    m_legacyValue3 = stream.ReadDouble();
    m_legacyValue4 = stream.ReadDouble();
    for (int i = 0; i < c_reservedDoubles; ++i) {
        stream.ReadDouble();
    }
    m_maxNewtonError = stream.ReadDouble();
    m_meanNewtonError = stream.ReadDouble();
    m_timeStampLog = stream.ReadWideString();
    m_subTaskDurationLog.Serialize(stream);
}

void KaCRegistrationEffortLoggingAttribute::writeVersion1(CbStreamWriteBinary& stream) const {
    stream.WriteUInt32(m_legacyValue5);
    stream.WriteUInt32(m_legacyValue6);
    stream.WriteUInt32(m_legacyValue1);
    stream.WriteUInt32(m_legacyValue2);
    stream.WriteDouble(m_legacyValue3);
    stream.WriteDouble(m_legacyValue4);
    for (int i = 0; i < c_reservedDoubles; ++i) {
        stream.WriteDouble(0.0);
    }
    stream.WriteDouble(m_maxNewtonError);
    stream.WriteDouble(m_meanNewtonError);
    stream.WriteWideString(m_timeStampLog);
    m_subTaskDurationLog.Serialize(stream);
}
