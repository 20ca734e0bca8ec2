#pragma once

#include <cstdint>

#include "platform/abacus/CbVector3f.h"
#include "platform/granary/KaCQuantizedNormalBinning.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// The occlusal and extraoral directions of a jaw, estimated lazily from two histograms of
// surface normals and cached until a histogram changes, and the node revision of the occlusal
// histogram. Estimate getters, revision accessors and ResetAttribute are locked (concurrent
// getters compute once); histogram accessors and Serialize are the caller's to serialise.
// An unknown version throws CbExceptionWrongFileVersion, bad bytes CbException; either
// leaves the attribute unchanged. No clone function.
class KaCJawSemanticsAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    // What the estimates fall back to when a histogram yields no direction.
    static constexpr CbVector3f ms_defaultOcclusalDirection{0.0f, 0.0f, -1.0f};
    static constexpr CbVector3f ms_defaultExtraoralDirection{1.0f, 0.0f, 0.0f};

    KaCJawSemanticsAttribute();
    ~KaCJawSemanticsAttribute() override = default;
    KaCJawSemanticsAttribute(const KaCJawSemanticsAttribute&) = delete;
    KaCJawSemanticsAttribute& operator=(const KaCJawSemanticsAttribute&) = delete;

    // The estimate, recomputed from both histograms first when they changed.
    CbVector3f GetOcclusalDirectionEstimate() const;
    CbVector3f GetExtraoralDirectionEstimate() const;

    const KaCQuantizedNormalBinning& GetOcclusalDirectionBinning() const {
        return m_occlusalDirectionBinning;
    }
    const KaCQuantizedNormalBinning& GetExtraoralDirectionBinning() const {
        return m_extraoralDirectionBinning;
    }
    // Replace a histogram; the next estimate getter recomputes both estimates.
    void SetOcclusalDirectionBinning(const KaCQuantizedNormalBinning& binning);
    void SetExtraoralDirectionBinning(const KaCQuantizedNormalBinning& binning);

    int64_t GetOcclusalDirectionBinningRevision() const;
    void SetOcclusalDirectionBinningRevision(int64_t revision);

    // Empties both histograms, sets the occlusal estimate to (0, 0, -1) and the revision to
    // -1 and invalidates the cache; the extraoral estimate stays as it is. Returns true.
    bool ResetAttribute() override;

    // Record: version 1; occlusal and extraoral estimate (3 floats each) as cached, without
    // updating them first; the valid flag; both histograms in their own records; the
    // revision (signed 64-bit). A record with the valid flag false makes the next getter
    // recompute; one with the flag true is believed. The reader changes the attribute only
    // once the whole record is read.
    void Serialize(CbStreamWriteBinary& stream) const override;
    void Serialize(CbStreamReadBinary& stream) override;

private:
    CB_DECLARE_CREATE_FACTORY(KaCJawSemanticsAttribute)

    // Recomputes both estimates unless the cache is valid; the caller holds m_lock.
    void updateEstimates() const;

    mutable CbCriticalSection m_lock;
    mutable CbVector3f m_occlusalDirectionEstimate = ms_defaultOcclusalDirection;
    // Never read by a getter before it is computed; until then it holds the fallback
    // direction, which is what a record written before the first computation carries.
    mutable CbVector3f m_extraoralDirectionEstimate = ms_defaultExtraoralDirection;
    mutable bool m_estimatesValid = false;
    KaCQuantizedNormalBinning m_occlusalDirectionBinning;
    KaCQuantizedNormalBinning m_extraoralDirectionBinning;
    int64_t m_occlusalDirectionBinningRevision = -1;
};
