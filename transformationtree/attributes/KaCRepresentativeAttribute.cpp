#include "transformationtree/attributes/KaCRepresentativeAttribute.h"

#include <string>

#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCRepresentativeAttribute, nullptr, &KaCRepresentativeAttribute::CreateByFactory,
               &KaCRepresentativeAttribute::CloneByFactory)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

KaCRepresentativeAttribute& KaCRepresentativeAttribute::operator=(
    const KaCRepresentativeAttribute& other) {
    KaARTTIAttribute::operator=(other);
    m_gridVoxelX = other.m_gridVoxelX;
    m_gridVoxelY = other.m_gridVoxelY;
    m_gridVoxelZ = other.m_gridVoxelZ;
    return *this;
}

void KaCRepresentativeAttribute::GetGridVoxel(int& x, int& y, int& z) const {
    x = m_gridVoxelX;
    y = m_gridVoxelY;
    z = m_gridVoxelZ;
}

void KaCRepresentativeAttribute::SetGridVoxel(int x, int y, int z) {
    m_gridVoxelX = x;
    m_gridVoxelY = y;
    m_gridVoxelZ = z;
}

bool KaCRepresentativeAttribute::ResetAttribute() {
    SetGridVoxel(ms_unsetVoxel, ms_unsetVoxel, ms_unsetVoxel);
    return true;
}

void KaCRepresentativeAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
    writeVersion1(stream);
}

void KaCRepresentativeAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCRepresentativeAttribute", {c_version});
    readVersion1(stream);
}

void KaCRepresentativeAttribute::readVersion1(CbStreamReadBinary& stream) {
    m_gridVoxelX = stream.ReadInt32();
    m_gridVoxelY = stream.ReadInt32();
    m_gridVoxelZ = stream.ReadInt32();
}

void KaCRepresentativeAttribute::writeVersion1(CbStreamWriteBinary& stream) const {
    stream.WriteInt32(m_gridVoxelX);
    stream.WriteInt32(m_gridVoxelY);
    stream.WriteInt32(m_gridVoxelZ);
}
