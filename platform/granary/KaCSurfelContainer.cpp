#include "platform/granary/KaCSurfelContainer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/granary/KaCSurfelKernels.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCSurfelContainer, &CySurfelCollectionBase::RTTI,
               &KaCSurfelContainer::CreateByFactory, &KaCSurfelContainer::CloneByFactory)

std::unordered_map<unsigned int, unsigned int> KaCSurfelContainer::s_elementSize = {
    {eAttributeIdPosition, sizeof(CbVector3f)},
    {eAttributeIdNormal, sizeof(KaCQuantizedNormal)},
    {eAttributeIdCurvature, sizeof(uint8_t)},
    {eAttributeIdQuality, sizeof(float)},
    {eAttributeIdTissueType, sizeof(uint8_t)},
    {eAttributeIdBoundaryFlag, sizeof(bool)},
    {eAttributeIdColor, sizeof(KaCCompressedColor)},
};
CbCriticalSection KaCSurfelContainer::s_csElementSize;

static_assert(sizeof(CbVector3f) == 3 * sizeof(float),
              "positions are stored as packed float triples");
static_assert(sizeof(bool) == 1, "boundary flags are one byte each");

namespace {

constexpr uint32_t c_currentVersion = 1;
constexpr uint16_t c_defaultNormalCode = KaCQuantizedNormal::ms_codePositiveZ;
constexpr float c_defaultQuality = 1.0f;

// Bytes per surfel in the stream record for an attribute set.
uint64_t recordBytesPerSurfel(KaCSurfelContainer::ESurfelAttributeSet attributeSet) {
    uint64_t bytes = sizeof(float) * 3 + sizeof(uint16_t) + 1 + 1;
    if (attributeSet != KaCSurfelContainer::eSurfelAttributeSetBasic) {
        bytes += 3 + 1;
    }
    if (attributeSet == KaCSurfelContainer::eSurfelAttributeSetFull) {
        bytes += sizeof(float);
    }
    return bytes;
}

}  // namespace

KaCSurfelContainer::KaCSurfelContainer(ESurfelAttributeSet attributeSet)
    : m_attributeSet(attributeSet) {
    if (!IsValidAttributeSet(static_cast<uint32_t>(attributeSet))) {
        CB_THROW(CbException,
                 "KaCSurfelContainer: unknown attribute set " + std::to_string(attributeSet));
    }
}

void KaCSurfelContainer::checkIndex(uint32_t index, uint32_t count, const char* operation) const {
    if (index >= m_count || count > m_count - index) {
        CB_THROW(CbException, std::string(operation) + ": surfels " + std::to_string(index) +
                                  " to " + std::to_string(static_cast<uint64_t>(index) + count) +
                                  " outside 0 to " + std::to_string(m_count));
    }
}

void KaCSurfelContainer::Resize(uint32_t count) {
    resizeStorage(count);
}

void KaCSurfelContainer::resizeStorage(uint32_t count) {
    m_positions.Resize(count, CbVector3f());
    m_normals.Resize(count, c_defaultNormalCode);
    m_tissueTypes.Resize(count, 0);
    m_boundaryFlags.Resize(count, 0);
    if (HasColor()) {
        m_colors.Resize(count, KaCCompressedColor());
        m_curvatures.Resize(count, 0);
    }
    if (HasQualityFlag()) {
        m_qualities.Resize(count, c_defaultQuality);
    }
    m_count = count;
}

void KaCSurfelContainer::resizeForOverwrite(uint32_t count) {
    m_positions.ResizeForOverwrite(count);
    m_normals.ResizeForOverwrite(count);
    m_tissueTypes.ResizeForOverwrite(count);
    m_boundaryFlags.ResizeForOverwrite(count);
    if (HasColor()) {
        m_colors.ResizeForOverwrite(count);
        m_curvatures.ResizeForOverwrite(count);
    }
    if (HasQualityFlag()) {
        m_qualities.ResizeForOverwrite(count);
    }
    m_count = count;
}

KaCSurfelContainer::KaNWritableSurfels KaCSurfelContainer::GetWritableSurfels(uint32_t start,
                                                                              uint32_t count) {
    KaNWritableSurfels surfels;
    if (count == 0) {
        return surfels;
    }
    checkIndex(start, count, "KaCSurfelContainer::GetWritableSurfels");
    surfels.positions = m_positions.Data() + start;
    surfels.normalCodes = m_normals.Data() + start;
    surfels.tissueTypes = m_tissueTypes.Data() + start;
    surfels.boundaryFlags = m_boundaryFlags.Data() + start;
    if (HasColor()) {
        surfels.colors = m_colors.Data() + start;
        surfels.curvatures = m_curvatures.Data() + start;
    }
    if (HasQualityFlag()) {
        surfels.qualities = m_qualities.Data() + start;
    }
    return surfels;
}

void KaCSurfelContainer::SurfelsWritten(uint32_t start, uint32_t count) {
    if (count != 0) {
        checkIndex(start, count, "KaCSurfelContainer::SurfelsWritten");
    }
}

void KaCSurfelContainer::Reserve(uint32_t count) {
    m_positions.Reserve(count);
    m_normals.Reserve(count);
    m_tissueTypes.Reserve(count);
    m_boundaryFlags.Reserve(count);
    if (HasColor()) {
        m_colors.Reserve(count);
        m_curvatures.Reserve(count);
    }
    if (HasQualityFlag()) {
        m_qualities.Reserve(count);
    }
}

void KaCSurfelContainer::AddSurfel(const KaCSurfel& surfel) {
    if (m_count == UINT32_MAX) {
        CB_THROW(CbException, "KaCSurfelContainer::AddSurfel: the container is full");
    }
    // Grow every array first, so that a failed allocation leaves the count as it was.
    const size_t wanted = m_count + size_t{1};
    auto grow = [wanted](auto& buffer) {
        if (buffer.Capacity() < wanted) {
            buffer.Reserve(std::max<size_t>(wanted, buffer.Capacity() * 2));
        }
    };
    grow(m_positions);
    grow(m_normals);
    grow(m_tissueTypes);
    grow(m_boundaryFlags);
    if (HasColor()) {
        grow(m_colors);
        grow(m_curvatures);
    }
    if (HasQualityFlag()) {
        grow(m_qualities);
    }
    resizeStorage(m_count + 1);
    writeSurfel(m_count - 1, surfel);
}

void KaCSurfelContainer::SetSurfel(uint32_t index, const KaCSurfel& surfel) {
    checkIndex(index, 1, "KaCSurfelContainer::SetSurfel");
    writeSurfel(index, surfel);
}

void KaCSurfelContainer::writeSurfel(uint32_t index, const KaCSurfel& surfel) {
    m_positions[index] = surfel.position;
    m_normals[index] = KaCQuantizedNormal::Encode(surfel.normal);
    m_tissueTypes[index] = surfel.tissueType;
    m_boundaryFlags[index] = surfel.boundary ? 1 : 0;
    if (HasColor()) {
        m_colors[index] = surfel.color;
        m_curvatures[index] = surfel.curvature;
    }
    if (HasQualityFlag()) {
        m_qualities[index] = surfel.quality;
    }
}

KaCSurfel KaCSurfelContainer::GetSurfel(uint32_t index) const {
    checkIndex(index, 1, "KaCSurfelContainer::GetSurfel");
    KaCSurfel surfel;
    surfel.position = m_positions[index];
    surfel.normal = KaCQuantizedNormal::Decode(m_normals[index]);
    surfel.tissueType = m_tissueTypes[index];
    surfel.boundary = m_boundaryFlags[index] != 0;
    if (HasColor()) {
        surfel.color = m_colors[index];
        surfel.curvature = m_curvatures[index];
    }
    if (HasQualityFlag()) {
        surfel.quality = m_qualities[index];
    }
    return surfel;
}

CbVector3f KaCSurfelContainer::GetPosition(uint32_t index) const {
    checkIndex(index, 1, "KaCSurfelContainer::GetPosition");
    return m_positions[index];
}

void KaCSurfelContainer::CopySurfel(uint32_t targetIndex, const KaCSurfelContainer& source,
                                    uint32_t sourceIndex, const CbMatrix4Rf& transformation,
                                    const CbMatrix4Rf& rotation) {
    checkIndex(targetIndex, 1, "KaCSurfelContainer::CopySurfel (target)");
    source.checkIndex(sourceIndex, 1, "KaCSurfelContainer::CopySurfel (source)");
    copySurfels(targetIndex, source, sourceIndex, 1, transformation, rotation, nullptr);
}

void KaCSurfelContainer::CopySurfels(uint32_t targetStart, const KaCSurfelContainer& source,
                                     uint32_t sourceStart, uint32_t count,
                                     const CbMatrix4Rf& transformation,
                                     const CbMatrix4Rf& rotation) {
    copySurfels(targetStart, source, sourceStart, count, transformation, rotation, nullptr);
}

void KaCSurfelContainer::copySurfels(uint32_t targetStart, const KaCSurfelContainer& source,
                                     uint32_t sourceStart, uint32_t count,
                                     const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation,
                                     CyBoundingBox3D* bounds) {
    if (bounds != nullptr) {
        *bounds = CyBoundingBox3D();
    }
    if (count == 0) {
        return;
    }
    checkIndex(targetStart, count, "KaCSurfelContainer::CopySurfels (target)");
    source.checkIndex(sourceStart, count, "KaCSurfelContainer::CopySurfels (source)");
    // The loops read and write through unaliased pointers, so a range of this container
    // that overlaps the target is copied aside first.
    const bool overlapping = &source == this &&
                             targetStart < static_cast<uint64_t>(sourceStart) + count &&
                             sourceStart < static_cast<uint64_t>(targetStart) + count;
    if (overlapping) {
        KaCSurfelContainer range(m_attributeSet);
        range.copyRangeUnchanged(*this, sourceStart, count);
        copyRange(targetStart, range, 0, count, transformation, rotation, bounds);
    } else {
        copyRange(targetStart, source, sourceStart, count, transformation, rotation, bounds);
    }
}

void KaCSurfelContainer::copyRange(uint32_t targetStart, const KaCSurfelContainer& source,
                                   uint32_t sourceStart, uint32_t count,
                                   const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation,
                                   CyBoundingBox3D* bounds) {
    const CbVector3f* sourcePositions = source.m_positions.Data() + sourceStart;
    CbVector3f* targetPositions = m_positions.Data() + targetStart;
    if (bounds == nullptr) {
        KaCSurfelKernels::TransformPositions(sourcePositions, targetPositions, count,
                                             transformation);
    } else {
        // Piece by piece, so that the box is taken while the written positions are cached.
        for (uint32_t done = 0; done < count;) {
            const auto step = static_cast<uint32_t>(
                std::min<size_t>(count - done, 8 * KaCSurfelKernels::ms_chunk));
            KaCSurfelKernels::TransformPositions(sourcePositions + done, targetPositions + done,
                                                 step, transformation);
            bounds->Extend(KaCSurfelKernels::BoundsOf(targetPositions + done, step));
            done += step;
        }
    }
    KaCSurfelKernels::TurnNormalCodes(source.m_normals.Data() + sourceStart,
                                      m_normals.Data() + targetStart, count, rotation);
    std::memcpy(m_tissueTypes.Data() + targetStart, source.m_tissueTypes.Data() + sourceStart,
                count);
    std::memcpy(m_boundaryFlags.Data() + targetStart, source.m_boundaryFlags.Data() + sourceStart,
                count);
    if (HasColor()) {
        if (source.HasColor()) {
            std::memcpy(static_cast<void*>(m_colors.Data() + targetStart),
                        source.m_colors.Data() + sourceStart, count * sizeof(KaCCompressedColor));
            std::memcpy(m_curvatures.Data() + targetStart, source.m_curvatures.Data() + sourceStart,
                        count);
        } else {
            std::fill_n(m_colors.Data() + targetStart, count, KaCCompressedColor());
            std::fill_n(m_curvatures.Data() + targetStart, count, uint8_t{0});
        }
    }
    if (HasQualityFlag()) {
        if (source.HasQualityFlag()) {
            std::memcpy(m_qualities.Data() + targetStart, source.m_qualities.Data() + sourceStart,
                        count * sizeof(float));
        } else {
            std::fill_n(m_qualities.Data() + targetStart, count, c_defaultQuality);
        }
    }
}

void KaCSurfelContainer::copyRangeUnchanged(const KaCSurfelContainer& source, uint32_t sourceStart,
                                            uint32_t count) {
    // Only used on a fresh container of the source's attribute set.
    resizeStorage(count);
    std::memcpy(static_cast<void*>(m_positions.Data()), source.m_positions.Data() + sourceStart,
                count * sizeof(CbVector3f));
    std::memcpy(m_normals.Data(), source.m_normals.Data() + sourceStart, count * sizeof(uint16_t));
    std::memcpy(m_tissueTypes.Data(), source.m_tissueTypes.Data() + sourceStart, count);
    std::memcpy(m_boundaryFlags.Data(), source.m_boundaryFlags.Data() + sourceStart, count);
    if (HasColor()) {
        std::memcpy(static_cast<void*>(m_colors.Data()), source.m_colors.Data() + sourceStart,
                    count * sizeof(KaCCompressedColor));
        std::memcpy(m_curvatures.Data(), source.m_curvatures.Data() + sourceStart, count);
    }
    if (HasQualityFlag()) {
        std::memcpy(m_qualities.Data(), source.m_qualities.Data() + sourceStart,
                    count * sizeof(float));
    }
}

void KaCSurfelContainer::ShrinkToFit() {
    m_positions.ShrinkToFit();
    m_normals.ShrinkToFit();
    m_tissueTypes.ShrinkToFit();
    m_boundaryFlags.ShrinkToFit();
    m_colors.ShrinkToFit();
    m_curvatures.ShrinkToFit();
    m_qualities.ShrinkToFit();
}

size_t KaCSurfelContainer::GetUsedDynamicMemory() const {
    return m_positions.GetUsedDynamicMemory() + m_normals.GetUsedDynamicMemory() +
           m_tissueTypes.GetUsedDynamicMemory() + m_boundaryFlags.GetUsedDynamicMemory() +
           m_colors.GetUsedDynamicMemory() + m_curvatures.GetUsedDynamicMemory() +
           m_qualities.GetUsedDynamicMemory();
}

KaTSurfelAccessor<CbVector3f> KaCSurfelContainer::GetPositionAccessor() const {
    return {m_positions.Data(), sizeof(CbVector3f), m_count};
}

KaTSurfelAccessor<KaCQuantizedNormal> KaCSurfelContainer::GetNormalAccessor() const {
    return {m_normals.Data(), sizeof(uint16_t), m_count};
}

KaTSurfelAccessor<float> KaCSurfelContainer::GetQualityAccessor() const {
    if (!HasQualityFlag()) {
        CB_THROW(CbException,
                 "KaCSurfelContainer::GetQualityAccessor: the container holds no quality");
    }
    return {m_qualities.Data(), sizeof(float), m_count};
}

KaTSurfelAccessor<uint8_t> KaCSurfelContainer::GetTissueTypeAccessor() const {
    return {m_tissueTypes.Data(), sizeof(uint8_t), m_count};
}

KaTSurfelAccessor<bool> KaCSurfelContainer::GetBoundaryFlagAccessor() const {
    // Flags are stored as bytes 0 and 1 only, so they read as bool.
    return {m_boundaryFlags.Data(), sizeof(uint8_t), m_count};
}

unsigned int KaCSurfelContainer::GetElementSize(unsigned int attributeId) {
    CbCriticalSectionAuto lock(s_csElementSize);
    auto it = s_elementSize.find(attributeId);
    return it == s_elementSize.end() ? 0 : it->second;
}

void KaCSurfelContainer::lookUpAttribute(unsigned int attributeId, size_t elementSize,
                                         const void*& data, size_t& stride) const {
    if (GetElementSize(attributeId) != elementSize) {
        CB_THROW(CbException, "KaCSurfelContainer::GetAccessor");
    }
    switch (attributeId) {
        case eAttributeIdPosition:
            data = m_positions.Data();
            stride = sizeof(CbVector3f);
            return;
        case eAttributeIdNormal:
            data = m_normals.Data();
            stride = sizeof(uint16_t);
            return;
        case eAttributeIdTissueType:
            data = m_tissueTypes.Data();
            stride = sizeof(uint8_t);
            return;
        case eAttributeIdBoundaryFlag:
            data = m_boundaryFlags.Data();
            stride = sizeof(uint8_t);
            return;
        case eAttributeIdColor:
            if (HasColor()) {
                data = m_colors.Data();
                stride = sizeof(KaCCompressedColor);
                return;
            }
            break;
        case eAttributeIdCurvature:
            if (HasColor()) {
                data = m_curvatures.Data();
                stride = sizeof(uint8_t);
                return;
            }
            break;
        case eAttributeIdQuality:
            if (HasQualityFlag()) {
                data = m_qualities.Data();
                stride = sizeof(float);
                return;
            }
            break;
        default:
            break;
    }
    CB_THROW(CbException, "KaCSurfelContainer::GetAccessor");
}

void KaCSurfelContainer::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_currentVersion);
    stream.WriteUInt32(static_cast<uint32_t>(m_attributeSet));
    stream.WriteUInt32(m_count);
    stream.WriteFloatArray(reinterpret_cast<const float*>(m_positions.Data()),
                           uint64_t{m_count} * 3);
    stream.WriteUInt16Array(m_normals.Data(), m_count);
    stream.WriteBuffer(m_tissueTypes.Data(), m_count);
    stream.WriteBuffer(m_boundaryFlags.Data(), m_count);
    if (HasColor()) {
        stream.WriteBuffer(m_colors.Data(), uint64_t{m_count} * sizeof(KaCCompressedColor));
        stream.WriteBuffer(m_curvatures.Data(), m_count);
    }
    if (HasQualityFlag()) {
        stream.WriteFloatArray(m_qualities.Data(), m_count);
    }
}

void KaCSurfelContainer::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaCSurfelContainer record", {c_currentVersion});
    const uint32_t attributeSet = stream.ReadUInt32();
    if (!IsValidAttributeSet(attributeSet)) {
        CB_THROW(CbException, "KaCSurfelContainer: corrupt stream: unknown attribute set " +
                                  std::to_string(attributeSet));
    }
    const auto set = static_cast<ESurfelAttributeSet>(attributeSet);
    const uint32_t count = stream.ReadCount(recordBytesPerSurfel(set), "surfel");

    KaCSurfelContainer loaded(set);
    // Every array is read in full below, so it is not filled with defaults first.
    loaded.resizeForOverwrite(count);
    stream.ReadFloatArray(reinterpret_cast<float*>(loaded.m_positions.Data()), uint64_t{count} * 3);
    stream.ReadUInt16Array(loaded.m_normals.Data(), count);
    stream.ReadBuffer(loaded.m_tissueTypes.Data(), count);
    stream.ReadBuffer(loaded.m_boundaryFlags.Data(), count);
    for (uint32_t i = 0; i < count; ++i) {
        loaded.m_boundaryFlags[i] = loaded.m_boundaryFlags[i] != 0 ? 1 : 0;
    }
    if (loaded.HasColor()) {
        stream.ReadBuffer(loaded.m_colors.Data(), uint64_t{count} * sizeof(KaCCompressedColor));
        stream.ReadBuffer(loaded.m_curvatures.Data(), count);
    }
    if (loaded.HasQualityFlag()) {
        stream.ReadFloatArray(loaded.m_qualities.Data(), count);
    }

    m_attributeSet = loaded.m_attributeSet;
    m_count = loaded.m_count;
    m_positions.Swap(loaded.m_positions);
    m_normals.Swap(loaded.m_normals);
    m_tissueTypes.Swap(loaded.m_tissueTypes);
    m_boundaryFlags.Swap(loaded.m_boundaryFlags);
    m_colors.Swap(loaded.m_colors);
    m_curvatures.Swap(loaded.m_curvatures);
    m_qualities.Swap(loaded.m_qualities);
}
