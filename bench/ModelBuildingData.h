#pragma once

#include <cstdint>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/granary/KaCModelCCT.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"

// Scan-like data for the model-building benchmarks, built outside the timed regions.
//
// A jaw arch: a U-shaped band about 57 x 37 x 9 mm (x across, y front to back, z up), its
// cross-section a dome with tooth-like bumps. A scan is a curved patch of that surface
// sampled in raster order like a depth image (rows along the arch, columns across it),
// stored in its own frame; its pose carries it onto the arch. Neighbouring scans overlap.
// Not thread-safe (uses the node manager).
namespace ModelBuildingData {

struct Scan {
    CbSmartPointer<KaCModelCCT> model;
    CbMatrix4Rd pose;  // scan frame to arch frame, row vectors
};

// `count` scans of `surfelsPerScan` surfels each, spread evenly along the arch so that
// each overlaps its neighbours; every scan has its own pose. `unordered` stores each scan's
// surfels in a random order instead of raster order (points without scan structure).
std::vector<Scan> MakeArchScans(uint32_t count, uint32_t surfelsPerScan, uint32_t seed,
                                bool unordered = false);

// Leaves for the scans (registered with the node manager) and a node vector holding each
// with its pose, as ComputeSubsampling receives it.
KaCNodeVector MakeNodeVector(const std::vector<Scan>& scans);

// A session-like tree: below the returned root, `clusters` clusters, each an inner node
// with an optimizer, a collector and a clipboard inner node; each collector holds a
// normalised subtree (inner nodes of at most `maxChildren` children, leaves at the bottom)
// of `leavesPerCluster` scans. Every node has a rigid relative trafo, and the leaves'
// accumulated poses put each scan onto the arch. `unordered` as for MakeArchScans.
CbSmartPointer<KaCTransformationNodeInner> MakeSessionTree(uint32_t clusters,
                                                           uint32_t leavesPerCluster,
                                                           uint32_t maxChildren,
                                                           uint32_t surfelsPerScan,
                                                           bool unordered = false);

// Inner nodes of the subtree of `root` in bottom-up order (every node after all inner
// nodes below it).
std::vector<CbSmartPointer<KaCTransformationNodeInner>> InnerNodesBottomUp(
    const CbSmartPointer<KaCTransformationNodeInner>& root);

// The floor of the merge and grid paths: the positions and normals of every scan, read
// straight from its arrays, transformed by its pose (in float) into preallocated arrays by
// a plain loop. Returns the number of surfels.
struct FloorData {
    std::vector<const CbVector3f*> positions;
    std::vector<const uint16_t*> normals;
    std::vector<uint32_t> counts;
    std::vector<CbMatrix4Rf> trafos;
    std::vector<float> outPositions;
    std::vector<uint16_t> outNormals;
};
FloorData MakeFloorData(const std::vector<Scan>& scans);
uint64_t RunFloor(FloorData& data);

}  // namespace ModelBuildingData
