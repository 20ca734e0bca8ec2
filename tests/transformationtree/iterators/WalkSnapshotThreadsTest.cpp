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

// While one thread changes one subtree, others walk the other subtrees of the same tree
// (as threads holding read access to different subtrees do): a walk asks only for the
// snapshot of its own subtree and never reads the subtree being changed.
TEST_F(IteratorsTest, WalksOfSubtreesGoOnWhileAnotherSubtreeChanges) {
    std::mt19937 random(7);
    Inner root = m_manager.CreateInnerNode();
    std::vector<Inner> subtrees;
    for (int s = 0; s < 4; ++s) {
        Inner subtree = BuildRandomTree(random, 600);
        m_manager.AppendChild(root, subtree, true);
        subtrees.push_back(subtree);
    }
    std::vector<std::vector<Step>> references;
    for (const Inner& subtree : subtrees) {
        references.push_back(WalkReference::Walk(*subtree));
    }
    Inner changing = subtrees[0];
    std::vector<Step> changingWalk = WalkReference::Walk(*changing);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        std::mt19937 edits(11);
        for (int e = 0; e < 200; ++e) {
            Node node(changingWalk[1 + edits() % (changingWalk.size() - 1)].node);
            node->SetRelativeTrafo(RandomRigid(edits));
            if (e % 20 == 0) {
                Leaf leaf = m_manager.CreateLeafNode(MakeModel(2, static_cast<uint32_t>(e)));
                m_manager.AppendChild(changing, leaf, true);
            }
        }
    });
    for (int t = 1; t <= 3; ++t) {
        threads.emplace_back([&, t] {
            for (int repeat = 0; repeat < 6; ++repeat) {
                wrong += differences(subtrees[static_cast<size_t>(t)],
                                     references[static_cast<size_t>(t)]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, wrong.load());
    // The changed subtree and the whole tree walk as the reference says afterwards.
    EXPECT_EQ(0, differences(changing, WalkReference::Walk(*changing)));
    EXPECT_EQ(0, differences(root, WalkReference::Walk(*root)));
}
