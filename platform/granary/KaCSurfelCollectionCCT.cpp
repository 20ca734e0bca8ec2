#include "platform/granary/KaCSurfelCollectionCCT.h"

#include <cmath>

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

IObject* KaCSurfelCollectionCCT::CreateByFactory() {
    return new KaCSurfelCollectionCCT();
}

IObject* KaCSurfelCollectionCCT::CloneByFactory(const IObject& object) {
    return new KaCSurfelCollectionCCT(dynamic_cast<const KaCSurfelCollectionCCT&>(object));
}

void KaCSurfelCollectionCCT::UpdateBoundingBox() {
    CyBoundingBox3D box;
    const KaTSurfelAccessor<CbVector3f> positions = GetPositionAccessor();
    const uint32_t count = GetNrSurfels();
    for (uint32_t i = 0; i < count; ++i) {
        box.Extend(positions[i]);
    }
    m_boundingBox = box;
}

void KaCSurfelCollectionCCT::extendBoundingBox(uint32_t start, uint32_t count) {
    const KaTSurfelAccessor<CbVector3f> positions = GetPositionAccessor();
    for (uint32_t i = start; i < start + count; ++i) {
        m_boundingBox.Extend(positions[i]);
    }
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
    KaCSurfelContainer::CopySurfels(targetStart, source, sourceStart, count, transformation,
                                    rotation);
    extendBoundingBox(targetStart, count);
}

void KaCSurfelCollectionCCT::Serialize(CbStreamWriteBinary& stream) const {
    KaCSurfelContainer::Serialize(stream);
}

void KaCSurfelCollectionCCT::Serialize(CbStreamReadBinary& stream) {
    KaCSurfelContainer::Serialize(stream);
    UpdateBoundingBox();
}
