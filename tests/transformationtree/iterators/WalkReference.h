#pragma once

#include <cstddef>
#include <vector>

#include "tests/support/TreeTestSupport.h"

// The walks of the library recomputed the slow way, on the node objects: a recursive
// pre-order walk that multiplies the relative trafos (the traversal root's children carry
// their relative trafo, every deeper node relative × father's), against which the walks
// over the pre-order snapshot are compared bit for bit.
namespace WalkReference {

struct Step {
    KaCTransformationNode* node;
    CbMatrix4Rd trafo;  // into the traversal root
    size_t depth;       // path length: 0 for the traversal root
    size_t subtreeEnd;  // index one past the node's subtree in the walk
};

std::vector<Step> Walk(KaCTransformationNodeInner& root);

// The leaves of a walk, in order.
std::vector<Step> Leaves(const std::vector<Step>& walk);

// Where an iterator stands, as the reference describes it.
struct Position {
    KaCTransformationNode* node = nullptr;  // null at End
    CbMatrix4Rd trafo;
    size_t depth = 0;
};

// The current node, trafo and path length of `it` (null node at End), checking that the
// path entries name the chain of fathers of the current node.
template <class Iterator>
Position Observe(const Iterator& it) {
    Position position;
    const KaCTransformationNode::KaNNodeIterator& base = it;
    if (!base) {
        return position;
    }
    position.node = base.GetCurrentNode();
    position.trafo = base.GetCurrentTrafo();
    position.depth = base.GetPath().size();
    const KaCTransformationNode* below = position.node;
    for (size_t level = base.GetPath().size(); level-- > 0;) {
        const KaCTransformationNode* entry = base.GetPath()[level].childPosition->Get();
        EXPECT_EQ(below, entry) << "path entry " << level << " is not on the father chain";
        below = entry->GetFather().Get();
    }
    return position;
}

// Test assertion: `actual` stands where `expected` (an index into `walk`, or walk.size()
// for End) says.
::testing::AssertionResult At(const std::vector<Step>& walk, size_t expected,
                              const Position& actual);

}  // namespace WalkReference
