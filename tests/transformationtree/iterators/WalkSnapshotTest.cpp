#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/iterators/WalkReference.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

using namespace TreeTestSupport;
using WalkReference::At;
using WalkReference::Observe;
using WalkReference::Step;

namespace {

using NodeIterator = KaCTransformationNode::KaNNodeIterator;

// Checks every walk of `root` against the reference walk: forward and backward node,
// leaf and inner-node walks, random sequences of ++, -- and IncrementToNextSibling, Find
// followed by steps, and GetRas. Returns the number of nodes walked.
void checkWalks(const Inner& root, std::mt19937& random) {
    const std::vector<Step> walk = WalkReference::Walk(*root);
    const std::vector<Step> leaves = WalkReference::Leaves(walk);

    size_t index = 0;
    for (NodeIterator it = root->BeginNode(); it; ++it, ++index) {
        ASSERT_TRUE(At(walk, index, Observe(it))) << "forward node walk";
    }
    EXPECT_EQ(walk.size(), index);

    index = walk.size();
    for (NodeIterator it = root->LastNode(); it; --it) {
        ASSERT_GT(index, 0u);
        ASSERT_TRUE(At(walk, --index, Observe(it))) << "backward node walk";
    }
    EXPECT_EQ(0u, index);

    index = 0;
    for (auto it = root->BeginLeaf(); it; ++it, ++index) {
        ASSERT_TRUE(At(leaves, index, Observe(it))) << "forward leaf walk";
    }
    EXPECT_EQ(leaves.size(), index);
    index = leaves.size();
    for (auto it = root->LastLeaf(); it; --it) {
        ASSERT_GT(index, 0u);
        ASSERT_TRUE(At(leaves, --index, Observe(it))) << "backward leaf walk";
    }
    EXPECT_EQ(0u, index);
    EXPECT_EQ(leaves.size(), root->GetNrLeafNodes());

    std::vector<Step> inner;
    for (const Step& step : walk) {
        if (!step.node->IsLeaf()) {
            inner.push_back(step);
        }
    }
    index = 0;
    for (auto it = root->BeginInner(); it; ++it, ++index) {
        ASSERT_TRUE(At(inner, index, Observe(it))) << "inner-node walk";
    }
    EXPECT_EQ(inner.size(), index);

    // Random moves, against the reference's indices (walk.size() stands for End).
    NodeIterator it = root->BeginNode();
    size_t at = 0;
    for (int move = 0; move < 300; ++move) {
        switch (random() % 4) {
            case 0:
            case 1:
                ++it;
                at = at < walk.size() ? at + 1 : at;
                break;
            case 2:
                --it;
                at = at == 0 || at == walk.size() ? walk.size() : at - 1;
                break;
            default:
                it.IncrementToNextSibling();
                at = at == 0 || at == walk.size() ? at : walk[at].subtreeEnd;
                break;
        }
        ASSERT_TRUE(At(walk, at, Observe(it))) << "random move " << move;
        if (at == walk.size() && random() % 2 == 0) {
            it = root->BeginNode();
            at = 0;
        }
    }

    // Find, then on to the end.
    for (int probe = 0; probe < 5 && walk.size() > 1; ++probe) {
        size_t start = 1 + random() % (walk.size() - 1);
        NodeIterator found = root->Find(Node(walk[start].node));
        for (size_t i = start; i <= walk.size(); ++i, ++found) {
            ASSERT_TRUE(At(walk, i, Observe(found))) << "after Find";
        }
        if (walk[start].node->IsLeaf()) {
            auto leaf = root->Find(CbStaticCast<KaCTransformationNodeLeaf>(Node(walk[start].node)));
            const size_t li = static_cast<size_t>(
                std::find_if(leaves.begin(), leaves.end(),
                             [&](const Step& s) { return s.node == walk[start].node; }) -
                leaves.begin());
            for (size_t k = li + 1; k-- > 0; --leaf) {
                ASSERT_TRUE(At(leaves, k, Observe(leaf))) << "leaf Find, then backwards";
            }
            ASSERT_TRUE(At(leaves, leaves.size(), Observe(leaf))) << "-- from the first leaf";
        }
    }

    // The random-access snapshot: one image per leaf, the leaf walk's trafo for each.
    KaCTransformationNode::KaNRandomAccessSurfelIterator ras = root->GetRas();
    const std::vector<unsigned int>& first = ras.GetFirstSurfelIndices();
    ASSERT_EQ(leaves.size() + 1, first.size());
    unsigned int surfels = 0;
    for (size_t k = 0; k < leaves.size(); ++k) {
        ASSERT_EQ(surfels, first[k]);
        auto collection = leaves[k].node->GetModel()->GetSurfelCollection(
            KaCModelCCT::eSurfelCollectionTypeStandard);
        if (collection->GetNrSurfels() > 0) {
            EXPECT_TRUE(ras.GetTransformation(surfels) == leaves[k].trafo) << "image " << k;
            EXPECT_EQ(collection->GetAccessor<CbVector3f>(0)[0], ras.GetPosition(surfels));
        }
        surfels += collection->GetNrSurfels();
    }
    EXPECT_EQ(surfels, ras.GetNrOfOverallSurfels());
}

std::vector<Inner> innerNodes(const Inner& root) {
    std::vector<Inner> inner;
    for (const Step& step : WalkReference::Walk(*root)) {
        if (!step.node->IsLeaf()) {
            inner.push_back(CbStaticCast<KaCTransformationNodeInner>(Node(step.node)));
        }
    }
    return inner;
}

bool inSubtree(const Node& node, const Node& top) {
    for (Node n = node; n; n = n->GetFather()) {
        if (n == top) {
            return true;
        }
    }
    return false;
}

}  // namespace

// Random trees changed at random between walks: every walk from the root and from inner
// nodes, run twice (the first after a change also builds the snapshot part way), equals
// the reference walk on the node objects.
TEST_F(IteratorsTest, WalksOverTheSnapshotEqualTheReferenceWalkAcrossRandomEdits) {
    std::mt19937 random(2024);
    Inner trees[2] = {BuildRandomTree(random, 400), BuildRandomTree(random, 150)};
    uint32_t seed = 1000;
    for (int round = 0; round < 60; ++round) {
        Inner& tree = trees[random() % 2];
        std::vector<Inner> inner = innerNodes(tree);
        std::vector<Step> walk = WalkReference::Walk(*tree);
        Node node = walk.size() > 1 ? Node(walk[1 + random() % (walk.size() - 1)].node) : nullptr;
        Inner father = inner[random() % inner.size()];
        switch (round % 7) {
            case 0: {  // insert a leaf or an empty inner node somewhere among the children
                Node child = random() % 3 == 0
                                 ? Node(m_manager.CreateInnerNode())
                                 : Node(m_manager.CreateLeafNode(MakeModel(2, ++seed)));
                child->SetRelativeTrafo(RandomAffine(random));
                auto position =
                    father->BeginChild() +
                    static_cast<std::ptrdiff_t>(random() % (father->GetNrChildren() + 1));
                m_manager.InsertChild(father, position, child);
                break;
            }
            case 1:  // remove a subtree
                if (node && walk.size() > 60) {
                    m_manager.DeleteNode(node);
                }
                break;
            case 2:  // move a subtree within the tree, or into the other tree
                if (node) {
                    Inner target = random() % 3 == 0
                                       ? innerNodes(trees[0] == tree ? trees[1] : trees[0])[0]
                                       : father;
                    if (!inSubtree(target, node)) {
                        m_manager.MoveNode(target, node, nullptr);
                    }
                }
                break;
            case 3:  // a new transformation
                if (node) {
                    node->SetRelativeTrafo(RandomAffine(random));
                }
                break;
            case 4:  // room for more children (positions in the child list move)
                father->ReserveChildren(father->GetNrChildren() + 64);
                break;
            case 5:  // rebuild a subtree as a balanced one
                KaCTransformationTreeUtility::GetInstance().NormalizeTreeStructure(father, 3,
                                                                                   false);
                break;
            default:  // no change: the walks run on the current snapshot
                break;
        }
        for (const Inner& root : trees) {
            for (int repeat = 0; repeat < 2; ++repeat) {
                checkWalks(root, random);
                if (HasFatalFailure()) {
                    FAIL() << "round " << round;
                }
            }
            std::vector<Inner> starts = innerNodes(root);
            for (int s = 0; s < 3; ++s) {
                checkWalks(starts[random() % starts.size()], random);
                if (HasFatalFailure()) {
                    FAIL() << "round " << round << ", walk from an inner node";
                }
            }
        }
    }
}

// An iterator made before a change keeps reading the nodes for what it has not passed yet,
// as the walks did before there was a snapshot: a changed trafo further on in the walk,
// inside or outside the traversal root's subtree, shows in the nodes it reaches later.
TEST_F(IteratorsTest, AWalkSeesChangesMadeWhileItStandsInTheTree) {
    std::mt19937 random(77);
    Inner root = BuildRandomTree(random, 300);
    checkWalks(root, random);  // the snapshot is current now
    std::vector<Step> before = WalkReference::Walk(*root);
    const size_t middle = before.size() / 2;

    NodeIterator it = root->BeginNode();
    for (size_t i = 0; i < middle; ++i) {
        ++it;
    }
    ASSERT_TRUE(At(before, middle, Observe(it)));
    // A node after the middle whose father is on the iterator's path or earlier: change it.
    size_t later = middle + 1;
    while (later < before.size() && before[later].depth > 1) {
        ++later;
    }
    ASSERT_LT(later, before.size()) << "the tree has a second child of the root after the middle";
    before[later].node->SetRelativeTrafo(RandomAffine(random));
    std::vector<Step> after = WalkReference::Walk(*root);
    for (size_t i = middle; i <= after.size(); ++i, ++it) {
        ASSERT_TRUE(At(after, i, Observe(it))) << "step " << i << " after the change";
    }

    // A walk from an inner node goes on over its snapshot when the change is elsewhere.
    std::vector<Inner> inner = innerNodes(root);
    Inner sub =
        *std::max_element(inner.begin() + 1, inner.end(), [](const Inner& a, const Inner& b) {
            return WalkReference::Walk(*a).size() < WalkReference::Walk(*b).size();
        });
    std::vector<Step> subWalk = WalkReference::Walk(*sub);
    NodeIterator subIt = sub->BeginNode();
    ++subIt;
    ASSERT_TRUE(At(subWalk, 1, Observe(subIt)));
    root->BackChild() == Node(sub) ? root->FrontChild()->SetRelativeTrafo(RandomAffine(random))
                                   : root->BackChild()->SetRelativeTrafo(RandomAffine(random));
    for (size_t i = 1; i <= subWalk.size(); ++i, ++subIt) {
        ASSERT_TRUE(At(subWalk, i, Observe(subIt))) << "subtree step " << i;
    }
}

// Walks of a leaf, of an inner node without children and of a default-constructed
// iterator keep their behaviour at Begin, Last and End.
TEST_F(IteratorsTest, WalksOfTrivialSubtreesKeepTheirEnds) {
    std::mt19937 random(5);
    NamedTree tree = BuildTree("R(A(A1,A2),E,B)", random, true, {"E"});
    Inner empty = tree.inner(L"E");
    NodeIterator it = empty->BeginNode();
    ASSERT_TRUE(it);
    EXPECT_EQ(empty.Get(), it.GetCurrentNode());
    ++it;
    EXPECT_FALSE(it);
    EXPECT_FALSE(empty->BeginLeaf());
    EXPECT_TRUE(empty->LastNode() == empty->BeginNode());
    NodeIterator single = tree["A1"]->BeginNode();
    ASSERT_TRUE(single);
    EXPECT_EQ(tree["A1"].Get(), single.GetCurrentNode());
    ++single;
    EXPECT_FALSE(single);
    NodeIterator none;
    EXPECT_THROW(++none, CbExceptionPreconditionViolation);

    // From the root: the empty inner node is passed by the leaf walk, stopped on by the
    // node walk; End compares equal to EndNode.
    std::vector<std::wstring> names;
    for (auto leaf = tree.root->BeginLeaf(); leaf; ++leaf) {
        names.push_back(leaf.GetCurrentNode()->GetDescription());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"A1", L"A2", L"B"}), names);
    NodeIterator walk = tree.root->BeginNode();
    while (walk) {
        ++walk;
    }
    EXPECT_TRUE(walk == tree.root->EndNode());
    --walk;
    EXPECT_FALSE(walk);  // -- at End stays End
    NodeIterator last = tree.root->LastNode();
    EXPECT_EQ(tree["B"].Get(), last.GetCurrentNode());
    --last;
    EXPECT_EQ(empty.Get(), last.GetCurrentNode());
}
