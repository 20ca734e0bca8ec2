#include "platform/granary/KaCSurfelCollectionCCT.h"

#include <cmath>

#include "platform/granary/KaCSurfelKernels.h"

CB_DEFINE_RTTI(KaCSurfelCollectionCCT, &KaCSurfelContainer::RTTI,
               &KaCSurfelCollectionCCT::CreateByFactory, &KaCSurfelCollectionCCT::CloneByFactory)

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(ESurfelAttributeSet attributeSet)
    : KaCSurfelContainer(attributeSet) {}

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(uint32_t count, bool includeInBoundingBox,
                                               ESurfelAttributeSet attributeSet,
                                               CbSmartPointer<const KaIRayImage> rayImage)
    : KaCSurfelContainer(attributeSet), m_rayImage(std::move(rayImage)) {
    KaCSurfelContainer::Resize(count);
    if (includeInBoundingBox && count != 0) {
        m_boundingBox.Extend(CbVector3f());
    }
}

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(ForOverwrite, uint32_t count,
                                               ESurfelAttributeSet attributeSet,
                                               CbSmartPointer<const KaIRayImage> rayImage)
    : KaCSurfelContainer(attributeSet), m_rayImage(std::move(rayImage)) {
    resizeForOverwrite(count);
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCSurfelCollectionCCT::CreateForOverwrite(
    uint32_t count, ESurfelAttributeSet attributeSet, CbSmartPointer<const KaIRayImage> rayImage) {
    return CbSmartPointer<KaCSurfelCollectionCCT>(
        new KaCSurfelCollectionCCT(ForOverwrite{}, count, attributeSet, std::move(rayImage)));
}

void KaCSurfelCollectionCCT::UpdateBoundingBox() {
    const auto* positions = static_cast<const CbVector3f*>(GetPositionAccessor().GetData());
    m_boundingBox = KaCSurfelKernels::BoundsOf(positions, GetNrSurfels());
}

void KaCSurfelCollectionCCT::extendBoundingBox(uint32_t start, uint32_t count) {
    const auto* positions = static_cast<const CbVector3f*>(GetPositionAccessor().GetData());
    m_boundingBox.Extend(KaCSurfelKernels::BoundsOf(positions + start, count));
}

void KaCSurfelCollectionCCT::Resize(uint32_t count) {
    const uint32_t before = GetNrSurfels();
    KaCSurfelContainer::Resize(count);
    if (count > before) {
        m_boundingBox.Extend(CbVector3f());
    }
}

void KaCSurfelCollectionCCT::AddSurfel(const KaCSurfel& surfel) {
    KaCSurfelContainer::AddSurfel(surfel);
    m_boundingBox.Extend(surfel.position);
}

void KaCSurfelCollectionCCT::SetSurfel(uint32_t index, const KaCSurfel& surfel) {
    KaCSurfelContainer::SetSurfel(index, surfel);
    m_boundingBox.Extend(surfel.position);
}

void KaCSurfelCollectionCCT::CopySurfel(uint32_t targetIndex, const KaCSurfelContainer& source,
                                        uint32_t sourceIndex, const CbMatrix4Rf& transformation,
                                        const CbMatrix4Rf& rotation) {
    KaCSurfelContainer::CopySurfel(targetIndex, source, sourceIndex, transformation, rotation);
    extendBoundingBox(targetIndex, 1);
}

void KaCSurfelCollectionCCT::CopySurfels(uint32_t targetStart, const KaCSurfelContainer& source,
                                         uint32_t sourceStart, uint32_t count,
                                         const CbMatrix4Rf& transformation,
                                         const CbMatrix4Rf& rotation) {
    // The box of the written positions comes out of the copy itself.
    CyBoundingBox3D written;
    copySurfels(targetStart, source, sourceStart, count, transformation, rotation, &written);
    m_boundingBox.Extend(written);
}

void KaCSurfelCollectionCCT::SurfelsWritten(uint32_t start, uint32_t count) {
    KaCSurfelContainer::SurfelsWritten(start, count);
    extendBoundingBox(start, count);
}

void KaCSurfelCollectionCCT::Serialize(CbStreamWriteBinary& stream) const {
    KaCSurfelContainer::Serialize(stream);
}

void KaCSurfelCollectionCCT::Serialize(CbStreamReadBinary& stream) {
    KaCSurfelContainer::Serialize(stream);
    UpdateBoundingBox();
}
