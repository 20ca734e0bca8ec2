#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/granary/KaCSurfelContainer.h"
#include "platform/granary/KaIRayImage.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/prism/CyBoundingBox3D.h"

// The surfel collection of a model: a surfel container with a bounding box and the ray
// image it was measured from (kept, not serialised). The box encloses every surfel written
// so far: every write grows it (non-finite positions are ignored), nothing shrinks it, so
// after overwrites or shrinking it may be larger than needed until UpdateBoundingBox()
// recomputes it exactly; reading a record recomputes it too.
// Not synchronised, like the container. Throws as the container does.
class KaCSurfelCollectionCCT : public KaCSurfelContainer {
    CB_DECLARE_RTTI()

public:
    explicit KaCSurfelCollectionCCT(ESurfelAttributeSet attributeSet = eSurfelAttributeSetBasic);
    // `count` surfels, each at the defaults (position at the origin), for the caller to
    // fill. `includeInBoundingBox` true: the default surfels count as content and the box
    // starts as the origin; false: they are placeholders that the caller overwrites (with
    // SetSurfel or CopySurfel(s)) and the box starts empty, growing with every write.
    KaCSurfelCollectionCCT(uint32_t count, bool includeInBoundingBox,
                           ESurfelAttributeSet attributeSet,
                           CbSmartPointer<const KaIRayImage> rayImage);
    // As the sized constructor with `includeInBoundingBox` false, but the surfels hold
    // unspecified values instead of the defaults, so that their memory is written only
    // once: the caller writes every surfel (SetSurfel, CopySurfel(s) or the writable
    // arrays) before anything reads it. The box starts empty.
    static CbSmartPointer<KaCSurfelCollectionCCT> CreateForOverwrite(
        uint32_t count, ESurfelAttributeSet attributeSet,
        CbSmartPointer<const KaIRayImage> rayImage);
    KaCSurfelCollectionCCT(const KaCSurfelCollectionCCT& other) = default;
    KaCSurfelCollectionCCT& operator=(const KaCSurfelCollectionCCT& other) = default;
    ~KaCSurfelCollectionCCT() override = default;

    const CyBoundingBox3D& GetBoundingBox() const { return m_boundingBox; }
    // Recomputes the box exactly from the finite positions.
    void UpdateBoundingBox();
    const CbSmartPointer<const KaIRayImage>& GetRayImage() const { return m_rayImage; }
    void SetRayImage(CbSmartPointer<const KaIRayImage> rayImage) {
        m_rayImage = std::move(rayImage);
    }

    // Growing adds the origin to the box; shrinking leaves the box as it is.
    void Resize(uint32_t count) override;
    void AddSurfel(const KaCSurfel& surfel) override;
    void SetSurfel(uint32_t index, const KaCSurfel& surfel) override;
    void CopySurfel(uint32_t targetIndex, const KaCSurfelContainer& source, uint32_t sourceIndex,
                    const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation) override;
    void CopySurfels(uint32_t targetStart, const KaCSurfelContainer& source, uint32_t sourceStart,
                     uint32_t count, const CbMatrix4Rf& transformation,
                     const CbMatrix4Rf& rotation) override;
    // Grows the box by the written positions.
    void SurfelsWritten(uint32_t start, uint32_t count) override;

    // The container's record (version 1); the box is recomputed after reading and the ray
    // image is neither written nor read (a read collection keeps the one it had).
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    CB_DECLARE_FACTORIES(KaCSurfelCollectionCCT)

    void extendBoundingBox(uint32_t start, uint32_t count);
    struct ForOverwrite {};
    KaCSurfelCollectionCCT(ForOverwrite, uint32_t count, ESurfelAttributeSet attributeSet,
                           CbSmartPointer<const KaIRayImage> rayImage);

    CyBoundingBox3D m_boundingBox;
    CbSmartPointer<const KaIRayImage> m_rayImage;
};
