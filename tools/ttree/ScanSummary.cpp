#include "tools/ttree/ScanSummary.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/ttree/ScanAcquisitionAttribute.h"

ScanSummary::ScanSummary(const CbSmartPointer<KaCTransformationNodeInner>& root)
    : m_firstSequence(std::numeric_limits<uint64_t>::max())
    , m_firstTime(std::numeric_limits<double>::infinity())
    , m_lastTime(-std::numeric_limits<double>::infinity()) {
    m_min.fill(std::numeric_limits<double>::infinity());
    m_max.fill(-std::numeric_limits<double>::infinity());
    for (auto it = root->BeginLeaf(); it; ++it) {
        const KaCTransformationNode& leaf = *it.GetCurrentNode();
        addAcquisition(leaf);
        if (auto model = leaf.GetModel()) {
            m_firstSequence = std::min(m_firstSequence, model->GetAcquireSequenceNumber());
            m_lastSequence = std::max(m_lastSequence, model->GetAcquireSequenceNumber());
            addSurfels(*model, it.GetCurrentTrafo());
        }
    }
}

void ScanSummary::addSurfels(const KaCModelCCT& model, const CbMatrix4Rd& m) {
    auto surfels = model.GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    if (!surfels) {
        return;
    }
    for (uint32_t i = 0; i < surfels->GetNrSurfels(); ++i) {
        const CbVector3f p = surfels->GetPosition(i);
        std::array<double, 3> q;
        for (size_t c = 0; c < 3; ++c) {
            q[c] = p.x * m(0, c) + p.y * m(1, c) + p.z * m(2, c) + m(3, c);
        }
        if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) {
            ++m_nonFinite;
            continue;
        }
        for (size_t c = 0; c < 3; ++c) {
            m_min[c] = std::min(m_min[c], q[c]);
            m_max[c] = std::max(m_max[c], q[c]);
        }
    }
}

void ScanSummary::addAcquisition(const KaCTransformationNode& leaf) {
    auto acquisition = leaf.GetAllAttributes().GetAttribute<ScanAcquisitionAttribute>();
    if (!acquisition) {
        return;
    }
    m_firstTime = std::min(m_firstTime, acquisition->GetTimeStamp());
    m_lastTime = std::max(m_lastTime, acquisition->GetTimeStamp());
    m_segments.insert(acquisition->GetSegment());
}
