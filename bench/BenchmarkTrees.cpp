#include "bench/BenchmarkTrees.h"

#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "platform/granary/KaCSurfel.h"

namespace BenchmarkTrees {

CbSmartPointer<KaCModelCCT> MakeModel(uint32_t surfels, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(0.0f, 10.0f);
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    collection->Reserve(surfels);
    for (uint32_t i = 0; i < surfels; ++i) {
        KaCSurfel surfel;
        surfel.position = {coordinate(random), coordinate(random), coordinate(random)};
        surfel.normal =
            CbVector3f(coordinate(random) - 5.0f, coordinate(random) - 5.0f, 5.0f).Normalized();
        surfel.quality = 0.5f;
        collection->AddSurfel(surfel);
    }
    return KaCModelCCT::Create(collection, true);
}

namespace {

CbMatrix4Rd rigid(double angle, double x, double y, double z) {
    double c = std::cos(angle), s = std::sin(angle);
    return CbMatrix4Rd(std::array<double, 16>{c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, x, y, z, 1});
}

}  // namespace

CbSmartPointer<KaCTransformationNodeInner> MakeTree(uint32_t nodes, uint32_t fanOut,
                                                    uint32_t surfelsPerLeaf) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<const KaCModelCCT> model = MakeModel(surfelsPerLeaf, 1);
    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateInnerNode();
    // Breadth first: a child is an inner node while the fathers waiting in the queue could
    // not hold the nodes still to come, a leaf otherwise.
    std::deque<CbSmartPointer<KaCTransformationNodeInner>> fathers{root};
    uint32_t created = 1;
    while (created < nodes && !fathers.empty()) {
        CbSmartPointer<KaCTransformationNodeInner> father = fathers.front();
        fathers.pop_front();
        for (uint32_t i = 0; i < fanOut && created < nodes; ++i, ++created) {
            uint64_t room = static_cast<uint64_t>(fathers.size()) * fanOut + (fanOut - i);
            CbSmartPointer<KaCTransformationNode> child;
            if (nodes - created > room) {
                auto inner = manager.CreateInnerNode();
                fathers.push_back(inner);
                child = inner;
            } else {
                child = manager.CreateLeafNode(model);
            }
            child->SetRelativeTrafo(rigid(0.001 * created, 1, 2, 3));
            manager.AppendChild(father, child, true);
        }
    }
    return root;
}

void ReleaseAll() {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    for (const auto& node : manager.GetRegisteredNodes()) {
        manager.DeleteNode(node);
    }
}

}  // namespace BenchmarkTrees
