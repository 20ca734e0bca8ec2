#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"

#include <string>

#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCJawSemanticsAttribute, nullptr, &KaCJawSemanticsAttribute::CreateByFactory,
               nullptr)

namespace {
constexpr uint32_t c_version = 1;
// A histogram bin takes part in the mean direction from this count on.
constexpr uint32_t c_thresholdCount = 1;

void writeVector(CbStreamWriteBinary& stream, const CbVector3f& vector) {
    stream.WriteFloat(vector.x);
    stream.WriteFloat(vector.y);
    stream.WriteFloat(vector.z);
}
CbVector3f readVector(CbStreamReadBinary& stream) {
    CbVector3f vector;
    vector.x = stream.ReadFloat();
    vector.y = stream.ReadFloat();
    vector.z = stream.ReadFloat();
    return vector;
}
}  // namespace

KaCJawSemanticsAttribute::KaCJawSemanticsAttribute() {
    KaCJawSemanticsAttribute::ResetAttribute();
}

void KaCJawSemanticsAttribute::updateEstimates() const {
    if (m_estimatesValid) {
        return;
    }
    // The zero vector means that a histogram yields no direction: the fallback replaces
    // one component, giving (0, 0, -1) and (1, 0, 0).
    const CbVector3f zero;
    m_occlusalDirectionEstimate =
        m_occlusalDirectionBinning.ComputeMeanDirectionAboveThresholdCount(c_thresholdCount);
    if (m_occlusalDirectionEstimate == zero) {
        m_occlusalDirectionEstimate.z = -1.0f;
    }
    m_extraoralDirectionEstimate =
        m_extraoralDirectionBinning.ComputeMeanDirectionAboveThresholdCount(c_thresholdCount);
    if (m_extraoralDirectionEstimate == zero) {
        m_extraoralDirectionEstimate.x = 1.0f;
    }
    m_estimatesValid = true;
}

CbVector3f KaCJawSemanticsAttribute::GetOcclusalDirectionEstimate() const {
    CbCriticalSectionAuto lock(m_lock);
    updateEstimates();
    return m_occlusalDirectionEstimate;
}

CbVector3f KaCJawSemanticsAttribute::GetExtraoralDirectionEstimate() const {
    CbCriticalSectionAuto lock(m_lock);
    updateEstimates();
    return m_extraoralDirectionEstimate;
}

void KaCJawSemanticsAttribute::SetOcclusalDirectionBinning(
    const KaCQuantizedNormalBinning& binning) {
    m_occlusalDirectionBinning = binning;
    m_estimatesValid = false;
}

void KaCJawSemanticsAttribute::SetExtraoralDirectionBinning(
    const KaCQuantizedNormalBinning& binning) {
    m_extraoralDirectionBinning = binning;
    m_estimatesValid = false;
}

int64_t KaCJawSemanticsAttribute::GetOcclusalDirectionBinningRevision() const {
    CbCriticalSectionAuto lock(m_lock);
    return m_occlusalDirectionBinningRevision;
}

void KaCJawSemanticsAttribute::SetOcclusalDirectionBinningRevision(int64_t revision) {
    CbCriticalSectionAuto lock(m_lock);
    m_occlusalDirectionBinningRevision = revision;
}

bool KaCJawSemanticsAttribute::ResetAttribute() {
    CbCriticalSectionAuto lock(m_lock);
    m_occlusalDirectionBinning.Clear();
    m_extraoralDirectionBinning.Clear();
    m_occlusalDirectionEstimate = ms_defaultOcclusalDirection;
    m_occlusalDirectionBinningRevision = -1;
    m_estimatesValid = false;
    return true;
}

void KaCJawSemanticsAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_version);
    writeVector(stream, m_occlusalDirectionEstimate);
    writeVector(stream, m_extraoralDirectionEstimate);
    stream.WriteBool(m_estimatesValid);
    m_occlusalDirectionBinning.Serialize(stream);
    m_extraoralDirectionBinning.Serialize(stream);
    stream.WriteInt64(m_occlusalDirectionBinningRevision);
}

void KaCJawSemanticsAttribute::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCJawSemanticsAttribute", {c_version});
    // Read completely before anything changes, so that a record that breaks off cannot
    // leave a valid flag that belongs to other histograms.
    const CbVector3f occlusal = readVector(stream);
    const CbVector3f extraoral = readVector(stream);
    const bool valid = stream.ReadBool();
    KaCQuantizedNormalBinning occlusalBinning;
    occlusalBinning.Serialize(stream);
    KaCQuantizedNormalBinning extraoralBinning;
    extraoralBinning.Serialize(stream);
    const int64_t revision = stream.ReadInt64();

    m_occlusalDirectionEstimate = occlusal;
    m_extraoralDirectionEstimate = extraoral;
    m_estimatesValid = valid;
    m_occlusalDirectionBinning = occlusalBinning;
    m_extraoralDirectionBinning = extraoralBinning;
    m_occlusalDirectionBinningRevision = revision;
}
