#pragma once

#include <cstdint>

#include "platform/harbor/CbCriticalSection.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// Properties of a scanned area: how the application is to orient it. The orientation
// strategy is a run-time setting only: the stream record carries just its version.
// Thread-safe: the strategy is guarded by the attribute's own lock. Reading a record with
// an unknown version throws CbExceptionWrongFileVersion; stream errors propagate.
// Created by class name; no clone function.
class KaCAreaPropertiesAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    // The enumerators are this library's choice; only 0, the default, is fixed. Any other
    // 32-bit value the application sets is kept as it is.
    enum EOrientationStrategy : int32_t {
        eOrientationStrategyNone = 0,       // not oriented
        eOrientationStrategyAutomatic = 1,  // oriented from the scan data
        eOrientationStrategyManual = 2,     // oriented by the user
    };

    KaCAreaPropertiesAttribute() = default;
    ~KaCAreaPropertiesAttribute() override = default;
    KaCAreaPropertiesAttribute(const KaCAreaPropertiesAttribute&) = delete;
    KaCAreaPropertiesAttribute& operator=(const KaCAreaPropertiesAttribute&) = delete;

    EOrientationStrategy GetOrientationStrategy() const;
    void SetOrientationStrategy(EOrientationStrategy strategy);

    // Strategy back to eOrientationStrategyNone; returns true.
    bool ResetAttribute() override;

    // Record: version 1 and nothing else.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    CB_DECLARE_CREATE_FACTORY(KaCAreaPropertiesAttribute)

    mutable CbCriticalSection m_lock;
    EOrientationStrategy m_orientationStrategy = eOrientationStrategyNone;
};
