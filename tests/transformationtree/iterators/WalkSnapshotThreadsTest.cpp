#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/iterators/WalkReference.h"

using namespace TreeTestSupport;
using WalkReference::Step;

namespace {

// Walks `root` by node walk, leaf walk and GetRas and counts the differences from the
// reference walk.
int differences(const Inner& root, const std::vector<Step>& walk) {
    int wrong = 0;
    size_t index = 0;
    for (auto it = root->BeginNode(); it; ++it, ++index) {
        wrong += index >= walk.size() || it.GetCurrentNode() != walk[index].node ||
                 !(it.GetCurrentTrafo() == walk[index].trafo);
    }
    wrong += index != walk.size();
    std::vector<Step> leaves = WalkReference::Leaves(walk);
    index = 0;
    for (auto it = root->BeginLeaf(); it; ++it, ++index) {
        wrong += index >= leaves.size() || it.GetCurrentNode() != leaves[index].node ||
                 !(it.GetCurrentTrafo() == leaves[index].trafo);
    }
    wrong += index != leaves.size();
    auto ras = root->GetRas();
    wrong += ras.GetFirstSurfelIndices().size() != leaves.size() + 1;
    for (size_t k = 0; k + 1 < ras.GetFirstSurfelIndices().size() && k < leaves.size(); ++k) {
        const unsigned int first = ras.GetFirstSurfelIndices()[k];
        if (first < ras.GetFirstSurfelIndices()[k + 1]) {
            wrong += !(ras.GetTransformation(first) == leaves[k].trafo);
        }
    }
    return wrong;
}

}  // namespace

// Threads walk one unchanged tree at once, from the root and from inner nodes, starting
// while its snapshot is stale (so that they race to have it built) and going on over the
// built one: every walk equals the reference.
TEST_F(IteratorsTest, ConcurrentWalksOfAnUnchangedTreeEqualTheReference) {
    std::mt19937 random(99);
    Inner root = BuildRandomTree(random, 3000);
    std::vector<Inner> starts{root};
    for (const Step& step : WalkReference::Walk(*root)) {
        if (!step.node->IsLeaf() && step.depth == 1) {
            starts.push_back(CbStaticCast<KaCTransformationNodeInner>(Node(step.node)));
        }
    }
    for (int round = 0; round < 3; ++round) {
        // A change, so that the threads find the snapshot stale.
        root->FrontChild()->SetRelativeTrafo(RandomRigid(random));
        std::vector<std::vector<Step>> references;
        for (const Inner& start : starts) {
            references.push_back(WalkReference::Walk(*start));
        }
        std::atomic<int> wrong{0};
        std::atomic<int> walks{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int repeat = 0; repeat < 4; ++repeat) {
                    size_t which =
                        (static_cast<size_t>(t) + static_cast<size_t>(repeat)) % starts.size();
                    wrong += differences(starts[which], references[which]);
                    wrong += differences(root, references[0]);
                    walks += 2;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(0, wrong.load()) << "round " << round;
        EXPECT_EQ(32, walks.load());
    }
}
