#include "tests/transformationtree/iterators/WalkReference.h"

#include "transformationtree/nodes/KaCTransformationNodeInner.h"

namespace WalkReference {

namespace {

void visit(KaCTransformationNodeInner& inner, const CbMatrix4Rd* fatherTrafo, size_t depth,
           std::vector<Step>& walk) {
    for (const CbSmartPointer<KaCTransformationNode>& child : inner.GetChildren()) {
        const CbMatrix4Rd trafo = fatherTrafo != nullptr ? child->GetRelativeTrafo() * *fatherTrafo
                                                         : child->GetRelativeTrafo();
        const size_t index = walk.size();
        walk.push_back({child.Get(), trafo, depth + 1, 0});
        if (!child->IsLeaf()) {
            visit(static_cast<KaCTransformationNodeInner&>(*child), &trafo, depth + 1, walk);
        }
        walk[index].subtreeEnd = walk.size();
    }
}

}  // namespace

std::vector<Step> Walk(KaCTransformationNodeInner& root) {
    std::vector<Step> walk{{&root, c_matIdentityD, 0, 0}};
    visit(root, nullptr, 0, walk);
    walk[0].subtreeEnd = walk.size();
    return walk;
}

std::vector<Step> Leaves(const std::vector<Step>& walk) {
    std::vector<Step> leaves;
    for (const Step& step : walk) {
        if (step.node->IsLeaf()) {
            leaves.push_back(step);
        }
    }
    return leaves;
}

::testing::AssertionResult At(const std::vector<Step>& walk, size_t expected,
                              const Position& actual) {
    if (expected >= walk.size()) {
        if (actual.node == nullptr) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "expected End, stands on a node at depth " << actual.depth;
    }
    const Step& step = walk[expected];
    if (actual.node != step.node) {
        return ::testing::AssertionFailure()
               << "expected step " << expected << " of " << walk.size() << ", stands on "
               << (actual.node != nullptr ? "another node" : "End");
    }
    if (!(actual.trafo == step.trafo)) {
        return ::testing::AssertionFailure()
               << "step " << expected << ": the accumulated trafo differs";
    }
    if (actual.depth != step.depth) {
        return ::testing::AssertionFailure() << "step " << expected << ": path length "
                                             << actual.depth << ", expected " << step.depth;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace WalkReference
