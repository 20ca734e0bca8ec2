#pragma once

#include <cstdint>

#include "platform/harbor/CbCriticalSection.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// The number of background optimisation loops the application has run for a node.
// Thread-safe: the count is guarded by the attribute's own lock, also while it is written
// to or read from a stream. Reading a record with an unknown version throws
// CbExceptionWrongFileVersion; stream errors propagate. Cloneable. ResetAttribute is not
// overridden: the base implementation runs and the count is kept.
class KaCBackgroundOptimizationLoopCountAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    KaCBackgroundOptimizationLoopCountAttribute() = default;
    ~KaCBackgroundOptimizationLoopCountAttribute() override = default;
    KaCBackgroundOptimizationLoopCountAttribute& operator=(
        const KaCBackgroundOptimizationLoopCountAttribute&) = delete;

    unsigned int GetOptimizationLoopCount() const;
    void SetOptimizationLoopCount(unsigned int count);

    // Record: version 1, then the count (unsigned 32-bit).
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    // Copies the count (read under the source's lock); used by the clone function.
    KaCBackgroundOptimizationLoopCountAttribute(
        const KaCBackgroundOptimizationLoopCountAttribute& other);

    CB_DECLARE_FACTORIES(KaCBackgroundOptimizationLoopCountAttribute)

    mutable CbCriticalSection m_lock;
    uint32_t m_optimizationLoopCount = 0;
};
