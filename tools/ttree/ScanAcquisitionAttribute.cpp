#include "tools/ttree/ScanAcquisitionAttribute.h"

#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(ScanAcquisitionAttribute, nullptr, &ScanAcquisitionAttribute::CreateByFactory,
               &ScanAcquisitionAttribute::CloneByFactory)

namespace {
constexpr uint32_t c_version = 1;
}  // namespace

void ScanAcquisitionAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
    stream.WriteDouble(m_timeStamp);
    stream.WriteUInt32(m_segment);
}

void ScanAcquisitionAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("ScanAcquisitionAttribute", {c_version});
    const double timeStamp = stream.ReadDouble();
    m_segment = stream.ReadUInt32();
    m_timeStamp = timeStamp;
}
