#pragma once

#include <array>
#include <cstdint>
#include <set>

#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// What `ttree info` reports about the scans of a session, gathered in one walk over its
// leaves: the box of every scan surfel carried into the session (root) frame by its leaf's
// transformation, computed in double precision (not the box of the scans' transformed
// boxes, which is larger for rotated scans); the surfels left out of it for not being
// finite; the range of the models' acquisition sequence numbers; and, over the leaves that
// carry a ScanAcquisitionAttribute, the range of time stamps and the segments.
class ScanSummary {
public:
    explicit ScanSummary(const CbSmartPointer<KaCTransformationNodeInner>& root);

    bool HasBox() const { return m_min[0] <= m_max[0]; }
    const std::array<double, 3>& GetMin() const { return m_min; }
    const std::array<double, 3>& GetMax() const { return m_max; }
    uint64_t GetNonFiniteCount() const { return m_nonFinite; }

    bool HasSequenceNumbers() const { return m_firstSequence <= m_lastSequence; }
    uint64_t GetFirstSequenceNumber() const { return m_firstSequence; }
    uint64_t GetLastSequenceNumber() const { return m_lastSequence; }

    // Whether any leaf carries a ScanAcquisitionAttribute.
    bool HasAcquisition() const { return !m_segments.empty(); }
    double GetFirstTimeStamp() const { return m_firstTime; }
    double GetLastTimeStamp() const { return m_lastTime; }
    const std::set<uint32_t>& GetSegments() const { return m_segments; }

private:
    void addSurfels(const KaCModelCCT& model, const CbMatrix4Rd& trafo);
    void addAcquisition(const KaCTransformationNode& leaf);

    std::array<double, 3> m_min;
    std::array<double, 3> m_max;
    uint64_t m_nonFinite = 0;
    uint64_t m_firstSequence;
    uint64_t m_lastSequence = 0;
    double m_firstTime;
    double m_lastTime;
    std::set<uint32_t> m_segments;
};
