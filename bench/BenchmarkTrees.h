#pragma once

#include <cstdint>

#include "transformationtree/manager/KaCTransformationNodeManager.h"

// Trees and models for the benchmarks, built outside the timed regions.
namespace BenchmarkTrees {

// A model of `surfels` surfels spread over a 10 mm cube.
CbSmartPointer<KaCModelCCT> MakeModel(uint32_t surfels, uint32_t seed);

// A tree of about `nodes` nodes: every inner node has `fanOut` children, the last level
// holds leaves that share one model of `surfelsPerLeaf` surfels. Every node has a rigid,
// non-identity relative trafo.
CbSmartPointer<KaCTransformationNodeInner> MakeTree(uint32_t nodes, uint32_t fanOut,
                                                    uint32_t surfelsPerLeaf);

// Drops every node registered with the node manager.
void ReleaseAll();

}  // namespace BenchmarkTrees
