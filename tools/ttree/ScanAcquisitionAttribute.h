#pragma once

#include <cstdint>

#include "platform/mosaic/KaARTTIAttribute.h"

// What the scanner reported about one scan besides its model and pose: the time stamp and
// the segment (the scanner's pass) it was taken in. `ttree import` puts one on each leaf
// when the pose file has the acquisition columns; the acquisition sequence number goes on
// the scan's model. Programs that do not know the class skip its records.
// Not synchronised: the caller serialises access as for the node that carries it. Reading
// a record with an unknown version throws CbExceptionWrongFileVersion; stream errors
// propagate. Cloneable.
class ScanAcquisitionAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    ScanAcquisitionAttribute() = default;
    ~ScanAcquisitionAttribute() override = default;
    ScanAcquisitionAttribute& operator=(const ScanAcquisitionAttribute&) = delete;

    double GetTimeStamp() const { return m_timeStamp; }
    void SetTimeStamp(double seconds) { m_timeStamp = seconds; }
    uint32_t GetSegment() const { return m_segment; }
    void SetSegment(uint32_t segment) { m_segment = segment; }

    // Record: version 1, then the time stamp in seconds (double) and the segment (unsigned
    // 32-bit).
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    // Used by the clone function.
    ScanAcquisitionAttribute(const ScanAcquisitionAttribute& other) = default;

    CB_DECLARE_FACTORIES(ScanAcquisitionAttribute)

    double m_timeStamp = 0.0;
    uint32_t m_segment = 0;
};
