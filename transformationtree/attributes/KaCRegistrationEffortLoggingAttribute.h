#pragma once

#include <cstdint>
#include <string>

#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbMap.h"
#include "platform/mosaic/KaARTTIAttribute.h"
#include "platform/tidewell/KaCTimeMeasure.h"

// Statistics of the registration work spent on a node: time, iterations and runs per result
// code, Newton errors, a time stamp log and named sub-task durations. Three independent locks
// guard the groups (A: result efforts and Newton errors, B: time stamp log, C: sub-task
// durations); Serialize takes none, so callers hold off logging threads while they write.
// An unknown record version throws CbExceptionWrongFileVersion before anything changes;
// stream errors propagate. No clone function.
class KaCRegistrationEffortLoggingAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    // Result code of a successful ICP registration.
    static constexpr int ms_icpSuccess = 2;

    KaCRegistrationEffortLoggingAttribute() = default;
    ~KaCRegistrationEffortLoggingAttribute() override = default;
    KaCRegistrationEffortLoggingAttribute(const KaCRegistrationEffortLoggingAttribute&) = delete;
    KaCRegistrationEffortLoggingAttribute& operator=(const KaCRegistrationEffortLoggingAttribute&) =
        delete;

    // --- Group A: result efforts per result code, Newton errors
    // Adds `time`, `iterations` and one run to the entries of `resultCode`.
    void AccumulateResultEfforts(int resultCode, double time, unsigned int iterations);
    // The entry of `resultCode`, or 4294967295 (iterations, runs) and -1.0 (time) when the
    // code has none.
    unsigned int GetResultEffortIterations(int resultCode) const;
    unsigned int GetResultEffortNumRuns(int resultCode) const;
    double GetResultEffortTime(int resultCode) const;
    // The entries of the success code, or 0 when it has none.
    unsigned int GetAccumulatedICPSuccessNumIterations() const;
    unsigned int GetAccumulatedICPSuccessNumRuns() const;
    double GetAccumulatedICPSuccessTime() const;
    // The entry of the first failure code present in the respective map, consulting -1, 4,
    // 7, 5, 6 and 10 in this order, or 0 when none is present.
    unsigned int GetAccumulatedICPFailureNumIterations() const;
    unsigned int GetAccumulatedICPFailureNumRuns() const;
    double GetAccumulatedICPFailureTime() const;
    double GetMaxNewtonError() const;
    void SetMaxNewtonError(double error);
    double GetMeanNewtonError() const;
    void SetMeanNewtonError(double error);

    // --- Group B: appends "@<total> (<diff>) <text>\n" with the seconds since the
    // attribute was made and since the previous time stamp, one decimal each.
    void AddTimeStamp(const std::wstring& text);
    std::wstring GetTimeStampLog() const;

    // --- Group C: adds `duration` to the entry of `name`.
    void AddSubTaskDuration(const std::wstring& name, double duration);
    CbMap<std::wstring, double> GetSubTaskDurationLog() const;

    // Newton errors 0; time stamp log, sub-task durations and result efforts emptied. The
    // time measure keeps running and the legacy values stay. Takes A, then B, then C
    // (no other operation holds more than one lock, so the order cannot deadlock), so that
    // a reset cannot race with logging threads. Returns true.
    bool ResetAttribute() override;

protected:
    // Record: version 1 (version operation), then the fields of writeVersion1. The
    // result-effort maps are not stored.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;
    virtual void readVersion1(CbStreamReadBinary& stream);
    virtual void writeVersion1(CbStreamWriteBinary& stream) const;

private:
    CB_DECLARE_CREATE_FACTORY(KaCRegistrationEffortLoggingAttribute)

    // The entry of the first failure code that `map` holds, or 0.
    template <class V>
    static V firstFailureEntry(const CbMap<int, V>& map);

    mutable CbCriticalSection m_lockA;
    // Values of an older registration that are only carried through the stream record.
    // A new attribute holds 0 in them; ResetAttribute leaves them alone.
    uint32_t m_legacyValue1 = 0;
    uint32_t m_legacyValue2 = 0;
    double m_legacyValue3 = 0.0;
    double m_legacyValue4 = 0.0;
    uint32_t m_legacyValue5 = 0;
    uint32_t m_legacyValue6 = 0;

    mutable CbCriticalSection m_lockB;
    // Runs from construction; its start offset is 0.
    KaCTimeMeasure m_timeMeasure{0};
    std::wstring m_timeStampLog;

    mutable CbCriticalSection m_lockC;
    CbMap<std::wstring, double> m_subTaskDurationLog;

    CbMap<int, double> m_resultEffortTime;
    CbMap<int, unsigned int> m_resultEffortIterations;
    CbMap<int, unsigned int> m_resultEffortNumRuns;
    double m_maxNewtonError = 0.0;
    double m_meanNewtonError = 0.0;
};
