#pragma once

#include <cstdint>

#include "platform/mosaic/KaARTTIAttribute.h"

// Marks a node as the representative of one cell of a voxel grid: the cell's integer
// coordinates, or 2147483647 in each coordinate while unset.
// Not synchronised: the caller serialises access. Reading a record with an unknown version
// throws CbExceptionWrongFileVersion; stream errors propagate (a record that breaks off
// leaves the coordinates read so far changed). Cloneable and copy-assignable.
class KaCRepresentativeAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    static constexpr int32_t ms_unsetVoxel = 2147483647;

    KaCRepresentativeAttribute() = default;
    ~KaCRepresentativeAttribute() override = default;
    // Base assignment, then the three coordinates.
    KaCRepresentativeAttribute& operator=(const KaCRepresentativeAttribute& other);

    void GetGridVoxel(int& x, int& y, int& z) const;
    void SetGridVoxel(int x, int y, int z);

    // All three coordinates back to unset; returns true.
    bool ResetAttribute() override;

    // Record: version 1, then x, y, z (signed 32-bit each).
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

    // The three coordinates without version number.
    void readVersion1(CbStreamReadBinary& stream);
    void writeVersion1(CbStreamWriteBinary& stream) const;

private:
    // Used by the clone function.
    KaCRepresentativeAttribute(const KaCRepresentativeAttribute& other) = default;

    CB_DECLARE_FACTORIES(KaCRepresentativeAttribute)

    int32_t m_gridVoxelX = ms_unsetVoxel;
    int32_t m_gridVoxelY = ms_unsetVoxel;
    int32_t m_gridVoxelZ = ms_unsetVoxel;
};
