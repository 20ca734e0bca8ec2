#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/abacus/CbVector3f.h"
#include "platform/granary/CySurfelCollectionBase.h"
#include "platform/granary/KaCCompressedColor.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "platform/granary/KaTSurfelAccessor.h"
#include "platform/granary/KaTSurfelBuffer.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/prism/CyBoundingBox3D.h"

// An indexed set of surfels stored attribute by attribute (structure of arrays), read per
// attribute through accessors or generically by attribute id (GetAccessor).
// Not synchronised: one writer at a time, any number of concurrent readers without a
// writer (the element-size registry has its own lock). Bad indices, missing attributes and
// bad stream input throw CbException; an unknown record version CbExceptionWrongFileVersion.
class KaCSurfelContainer : public CySurfelCollectionBase {
    CB_DECLARE_RTTI()

public:
    // Position, 16-bit quantised normal, tissue type and boundary flag are always held;
    // colour and curvature, and quality, depending on the attribute set. Attributes a
    // container does not hold read as the KaCSurfel defaults.
    enum ESurfelAttributeSet {
        eSurfelAttributeSetBasic = 0,  // position, normal, tissue type, boundary flag
        eSurfelAttributeSetFull = 1,   // basic + colour, curvature, quality
        eSurfelAttributeSetColor = 2,  // basic + colour, curvature; no quality
    };

    // Ids of the generic accessor and their element sizes in bytes.
    enum EAttributeId : unsigned int {
        eAttributeIdPosition = 0,        // CbVector3f, 12
        eAttributeIdNormal = 1,          // KaCQuantizedNormal, 2
        eAttributeIdCurvature = 103,     // uint8_t, 1
        eAttributeIdQuality = 104,       // float, 4
        eAttributeIdTissueType = 105,    // uint8_t, 1
        eAttributeIdBoundaryFlag = 106,  // bool, 1
        eAttributeIdColor = 108,         // KaCCompressedColor, 3
    };

    explicit KaCSurfelContainer(ESurfelAttributeSet attributeSet = eSurfelAttributeSetBasic);
    KaCSurfelContainer(const KaCSurfelContainer& other) = default;
    KaCSurfelContainer& operator=(const KaCSurfelContainer& other) = default;
    ~KaCSurfelContainer() override = default;

    static bool IsValidAttributeSet(uint32_t value) { return value <= eSurfelAttributeSetColor; }

    uint32_t GetNrSurfels() const override { return m_count; }
    ESurfelAttributeSet GetAttributeSet() const { return m_attributeSet; }
    bool HasQualityFlag() const { return m_attributeSet == eSurfelAttributeSetFull; }
    // Colour and curvature come together.
    bool HasColor() const { return m_attributeSet != eSurfelAttributeSetBasic; }

    // Changes the number of surfels; new surfels take the KaCSurfel defaults (position at
    // the origin).
    virtual void Resize(uint32_t count);
    void Reserve(uint32_t count);
    // Throws when the container already holds the largest count (2^32 - 1).
    virtual void AddSurfel(const KaCSurfel& surfel);
    virtual void SetSurfel(uint32_t index, const KaCSurfel& surfel);
    // The surfel at `index`, normal decoded; attributes the container lacks are defaults.
    KaCSurfel GetSurfel(uint32_t index) const;
    CbVector3f GetPosition(uint32_t index) const;

    // Writes surfel `sourceIndex` of `source` at `targetIndex`: the position as the row
    // vector p × transformation, the normal turned by `rotation` (the transformation without
    // its translation) and normalised again. Attributes this container has and `source`
    // lacks take the defaults; attributes `source` has and this container lacks are dropped.
    // Both indices must be in range. Gives bit for bit the result of CopySurfels.
    virtual void CopySurfel(uint32_t targetIndex, const KaCSurfelContainer& source,
                            uint32_t sourceIndex, const CbMatrix4Rf& transformation,
                            const CbMatrix4Rf& rotation);
    // The same for `count` consecutive surfels, attribute by attribute in tight loops. The
    // ranges must lie inside both containers; `source` may be this container, even with
    // overlapping ranges (the source range is then copied first).
    virtual void CopySurfels(uint32_t targetStart, const KaCSurfelContainer& source,
                             uint32_t sourceStart, uint32_t count,
                             const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation);

    // The attribute arrays from surfel `start` on, for code that fills many surfels at once
    // (the grid sampler); arrays of attributes outside the attribute set are null. Valid
    // until the container is resized. Boundary flags must be written as 0 or 1. After
    // writing, the writer calls SurfelsWritten with the same range.
    struct KaNWritableSurfels {
        CbVector3f* positions = nullptr;
        uint16_t* normalCodes = nullptr;
        uint8_t* tissueTypes = nullptr;
        uint8_t* boundaryFlags = nullptr;
        KaCCompressedColor* colors = nullptr;
        uint8_t* curvatures = nullptr;
        float* qualities = nullptr;
    };
    // Throws CbException unless surfels start to start + count - 1 exist.
    KaNWritableSurfels GetWritableSurfels(uint32_t start, uint32_t count);
    // Lets derived containers update what they derive from the surfels (a collection grows
    // its bounding box). Throws as GetWritableSurfels.
    virtual void SurfelsWritten(uint32_t start, uint32_t count);

    // Releases memory reserved beyond the surfel count.
    virtual void ShrinkToFit();
    // Bytes of surfel memory held (capacity, not size).
    virtual size_t GetUsedDynamicMemory() const;

    KaTSurfelAccessor<CbVector3f> GetPositionAccessor() const;
    KaTSurfelAccessor<KaCQuantizedNormal> GetNormalAccessor() const;
    // Throws CbException unless HasQualityFlag().
    KaTSurfelAccessor<float> GetQualityAccessor() const;
    KaTSurfelAccessor<uint8_t> GetTissueTypeAccessor() const;
    KaTSurfelAccessor<bool> GetBoundaryFlagAccessor() const;

    // Raw data and stride of the attribute `attributeId` read as T. Throws CbException
    // "KaCSurfelContainer::GetAccessor" when the container holds no data for the id (an
    // attribute outside its set, or an id no container knows) and when the element size
    // registered for the id differs from sizeof(T). Takes the registry's lock.
    template <class T>
    KaTSurfelAccessor<T> GetAccessor(unsigned int attributeId) const {
        const void* data = nullptr;
        size_t stride = 0;
        lookUpAttribute(attributeId, sizeof(T), data, stride);
        return KaTSurfelAccessor<T>(data, stride, m_count);
    }

    // Element size registered for an attribute id, 0 for an unknown id. Takes the lock.
    static unsigned int GetElementSize(unsigned int attributeId);

    // Record: version 1, attribute set (uint32), surfel count (uint32), then per attribute
    // held, in bulk: positions (3 floats each), normal codes (uint16), tissue types (bytes),
    // boundary flags (bytes), [colours (3 bytes each), curvatures (bytes)], [qualities
    // (floats)]. The reader checks the version first and the whole size against the bytes
    // left before it allocates, and changes this container only once everything is read.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

protected:
    // Resizes with new surfels left unset, for a writer that fills every one of them.
    void resizeForOverwrite(uint32_t count);
    // CopySurfels; with `bounds`, also sets it to the box of the finite written positions.
    void copySurfels(uint32_t targetStart, const KaCSurfelContainer& source, uint32_t sourceStart,
                     uint32_t count, const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation,
                     CyBoundingBox3D* bounds);

private:
    void checkIndex(uint32_t index, uint32_t count, const char* operation) const;
    CB_DECLARE_FACTORIES(KaCSurfelContainer)

    void lookUpAttribute(unsigned int attributeId, size_t elementSize, const void*& data,
                         size_t& stride) const;
    void resizeStorage(uint32_t count);
    void writeSurfel(uint32_t index, const KaCSurfel& surfel);
    void copyRange(uint32_t targetStart, const KaCSurfelContainer& source, uint32_t sourceStart,
                   uint32_t count, const CbMatrix4Rf& transformation, const CbMatrix4Rf& rotation,
                   CyBoundingBox3D* bounds);
    void copyRangeUnchanged(const KaCSurfelContainer& source, uint32_t sourceStart, uint32_t count);

    // The registry of element sizes by attribute id, shared by every container.
    static std::unordered_map<unsigned int, unsigned int> s_elementSize;
    static CbCriticalSection s_csElementSize;

    ESurfelAttributeSet m_attributeSet;
    uint32_t m_count = 0;
    KaTSurfelBuffer<CbVector3f> m_positions;
    KaTSurfelBuffer<uint16_t> m_normals;
    KaTSurfelBuffer<uint8_t> m_tissueTypes;
    KaTSurfelBuffer<uint8_t> m_boundaryFlags;
    KaTSurfelBuffer<KaCCompressedColor> m_colors;
    KaTSurfelBuffer<uint8_t> m_curvatures;
    KaTSurfelBuffer<float> m_qualities;
};
