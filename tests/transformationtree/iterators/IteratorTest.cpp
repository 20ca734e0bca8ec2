#include <gtest/gtest.h>

#include <algorithm>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;

namespace {

using NodeIterator = KaCTransformationNode::KaNNodeIterator;
using Names = std::vector<std::wstring>;

// Walks an iterator until it tests false, collecting the descriptions, and checks every
// value's trafo (to `root`; the root's own trafo never enters) and inverse father trafo.
template <class Iterator>
Names walk(Iterator it, const Inner& root, int step = +1) {
    Names names;
    for (int guard = 0; it && guard < 1000; ++guard) {
        KaCTransformationNodeWithTrafo value = *it;
        Node node = value.GetNode();
        names.push_back(node->GetDescription());
        if (root) {
            EXPECT_TRUE(Near(node->GetRelativeTrafo(root), value.GetTrafo(), 1e-9))
                << node->GetDescription();
            Node father = node.Get() == root.Get() ? nullptr : Node(node->GetFather());
            CbMatrix4Rd fatherTrafo =
                father && father != root ? father->GetRelativeTrafo(root) : c_matIdentityD;
            EXPECT_TRUE(Near(c_matIdentityD, fatherTrafo * value.GetInverseFatherTrafo(), 1e-9));
        }
        if (step > 0) {
            ++it;
        } else {
            --it;
        }
    }
    return names;
}

}  // namespace

TEST_F(IteratorsTest, NodeWalkOfTheSmallTree) {
    NamedTree tree = BuildTree("R(A(A1,A2),B)", m_random);
    Inner R = tree.root;
    EXPECT_EQ(walk(R->BeginNode(), R), (Names{L"R", L"A", L"A1", L"A2", L"B"}));
    EXPECT_EQ(walk(R->LastNode(), R, -1), (Names{L"B", L"A2", L"A1", L"A", L"R"}));
    EXPECT_EQ(R->BackNode(), tree["B"]);

    // Every value knows its father in the walk; R, the walk's root, has none there.
    NodeIterator a1 = R->BeginNode();
    ++ ++a1;
    EXPECT_EQ(a1.GetFather(), tree["A"]);
    EXPECT_EQ(R->BeginNode().GetFather(), nullptr);

    // -- from A1 is A, from A is R, from R is End.
    NodeIterator back = R->Find(tree["A1"]);
    EXPECT_EQ((*--back).GetNode(), tree["A"]);
    EXPECT_EQ(back.GetFather(), R);
    EXPECT_EQ((*--back).GetNode(), R);
    EXPECT_FALSE(static_cast<bool>(--back));
    EXPECT_EQ(back, R->EndNode());

    // Skipping subtrees.
    auto skipFrom = [&](const wchar_t* name) {
        NodeIterator i = R->Find(tree[name]);
        i.IncrementToNextSibling();
        return i ? (*i).GetNode()->GetDescription() : std::wstring(L"End");
    };
    EXPECT_EQ(skipFrom(L"A"), L"B");
    EXPECT_EQ(skipFrom(L"A2"), L"B");
    EXPECT_EQ(skipFrom(L"B"), L"End");
    NodeIterator atRoot = R->BeginNode();
    atRoot.IncrementToNextSibling();
    EXPECT_EQ(atRoot, R->BeginNode());

    // Outside the subtree Find gives End (inside it, see RandomTreesWalkConsistently).
    EXPECT_EQ(R->Find(Node(m_manager.CreateLeafNode(MakeModel(1)))), R->EndNode());
    EXPECT_EQ(R->Find(Node()), R->EndNode());
    EXPECT_EQ(tree.inner(L"A")->Find(tree["B"]), tree.inner(L"A")->EndNode());

    // The same node reached from two traversal roots: unequal, told apart by the root.
    NodeIterator fromR = R->Find(tree["A1"]);
    NodeIterator fromA = tree.inner(L"A")->Find(tree["A1"]);
    EXPECT_NE(fromR, fromA);
    EXPECT_FALSE(fromR.HasSameTraversalRoot(fromA));
    EXPECT_TRUE(fromR.HasSameTraversalRoot(R->EndNode()));
}

TEST_F(IteratorsTest, WalksOfEmptyInnerNodesAndLeaves) {
    Inner empty = m_manager.CreateInnerNode();
    empty->SetDescription(L"E");
    empty->SetRelativeTrafo(RandomRigid(m_random));
    EXPECT_EQ(walk(empty->BeginNode(), empty), (Names{L"E"}));
    EXPECT_EQ((*empty->BeginNode()).GetTrafo(), c_matIdentityD);
    EXPECT_EQ(empty->LastNode(), empty->BeginNode());
    EXPECT_EQ(empty->BackNode(), empty);
    EXPECT_FALSE(empty->BeginLeaf());
    EXPECT_FALSE(empty->FrontLeaf());
    EXPECT_FALSE(empty->BeginCachedLeaf());

    Leaf leaf = m_manager.CreateLeafNode(MakeModel(2));
    leaf->SetDescription(L"L");
    leaf->SetRelativeTrafo(RandomRigid(m_random));
    NodeIterator it = leaf->BeginNode();
    EXPECT_EQ((*it).GetTrafo(), c_matIdentityD);
    EXPECT_EQ(it, leaf->LastNode());
    NodeIterator up = it;
    EXPECT_EQ(++it, leaf->EndNode());
    EXPECT_FALSE(static_cast<bool>(--up));
    EXPECT_EQ(walk(leaf->BeginLeaf(), nullptr), (Names{L"L"}));
    EXPECT_EQ(walk(leaf->BeginCachedLeaf(), nullptr), (Names{L"L"}));
    EXPECT_EQ(leaf->FrontLeaf(), leaf);
    EXPECT_EQ(leaf->BackCachedLeaf(), leaf);
    EXPECT_FALSE(leaf->BeginKeyframe());
    leaf->IsKeyframe(true);
    KaCTransformationNode::KaNKeyFrameNodeIterator keyframe = leaf->BeginKeyframe();
    ASSERT_TRUE(keyframe);
    EXPECT_FALSE(++keyframe);

    // An iterator without traversal root refuses to step, and stepping a walk's End
    // leaves it at End.
    NodeIterator none;
    EXPECT_THROW(++none, CbExceptionPreconditionViolation);
    EXPECT_THROW(--none, CbExceptionPreconditionViolation);
    EXPECT_THROW(none.IncrementToNextSibling(), CbExceptionPreconditionViolation);
    KaCTransformationNode::KaNLeafNodeIterator noLeaf;
    EXPECT_FALSE(++noLeaf);
    NodeIterator end = empty->EndNode();
    EXPECT_FALSE(++end);
}

TEST_F(IteratorsTest, FilteredWalksOfTheLargerTree) {
    NamedTree tree = BuildTree("R(A(A1,A2),B(B1),C)", m_random, true, {"C"});
    Inner R = tree.root;
    EXPECT_EQ(walk(R->BeginLeaf(), R), (Names{L"A1", L"A2", L"B1"}));
    EXPECT_EQ(walk(R->LastLeaf(), R, -1), (Names{L"B1", L"A2", L"A1"}));
    EXPECT_EQ(R->GetNrLeafNodes(), 3u);
    EXPECT_EQ(R->FrontLeaf(), tree["A1"]);
    EXPECT_EQ(R->BackLeaf(), tree["B1"]);
    EXPECT_EQ(R->BeginLeaf().GetFather(), tree["A"]);
    EXPECT_EQ(R->EndLeaf().GetFather(), R);
    EXPECT_FALSE(tree.inner(L"C")->BeginLeaf());
    EXPECT_TRUE(tree.inner(L"C")->EmptyLeafs());
    EXPECT_FALSE(R->EmptyLeafs());
    EXPECT_EQ(R->Find(tree.leaf(L"A2")), ++R->BeginLeaf());
    EXPECT_EQ(tree.inner(L"A")->Find(tree.leaf(L"B1")), tree.inner(L"A")->EndLeaf());

    EXPECT_EQ(walk(R->BeginInner(), R), (Names{L"R", L"A", L"B", L"C"}));
    EXPECT_EQ(walk(R->LastInner(), R, -1), (Names{L"C", L"B", L"A", L"R"}));

    // The father iterator climbs with the trafos the walk computed.
    KaCTransformationNode::KaNFatherIterator up(R->Find(tree["A2"]));
    EXPECT_EQ(walk(up, R), (Names{L"A2", L"A", L"R"}));
    --up;
    EXPECT_EQ((*up).GetNode(), tree["A2"]);

    // Keyframes: only A2.
    tree.leaf(L"A2")->IsKeyframe(true);
    KaCTransformationNode::KaNKeyFrameNodeIterator keyframe = R->BeginKeyframe();
    EXPECT_EQ((*keyframe).GetNode(), tree["A2"]);
    KaCTransformationNode::KaNKeyFrameNodeIterator previous = keyframe;
    EXPECT_FALSE(++keyframe);
    // -- moves to the previous leaf, which is no keyframe.
    --previous;
    EXPECT_FALSE(previous);
    EXPECT_EQ(previous.GetCurrentNode(), tree["A1"].Get());
    EXPECT_EQ((*previous).GetNode(), tree["A1"]);  // still a value of the walk
    tree.leaf(L"A2")->IsKeyframe(false);
    EXPECT_FALSE(R->BeginKeyframe());
}

TEST_F(IteratorsTest, CachedLeafWalksStopAtModels) {
    NamedTree tree = BuildTree("R(A(A1,A2),B(B1),C)", m_random, true, {"C"});
    Inner R = tree.root;
    auto cached = [&] { return walk(R->BeginCachedLeaf(), R); };

    tree.inner(L"A")->SetModel(MakeModel(4), -1);
    EXPECT_EQ(cached(), (Names{L"A", L"B1"}));
    EXPECT_EQ(R->LastCachedLeaf().GetCurrentNode(), tree["B1"].Get());
    EXPECT_EQ(R->GetNrCachedLeafNodes(), 2u);
    tree.inner(L"B")->SetModel(MakeModel(4), -1);
    EXPECT_EQ(cached(), (Names{L"A", L"B"}));
    EXPECT_EQ(R->BackCachedLeaf(), tree["B"]);
    EXPECT_EQ(walk(R->LastCachedLeaf(), R, -1), (Names{L"B", L"A"}));

    // A model on the traversal root itself is not one of its walk's cached leaves.
    tree.inner(L"A")->DeleteModel();
    tree.inner(L"B")->DeleteModel();
    R->SetModel(MakeModel(4), -1);
    EXPECT_EQ(cached(), (Names{L"A1", L"A2", L"B1"}));

    // A first leaf without model is passed over by Begin, but a step rests on such a leaf.
    NamedTree bare = BuildTree("S(s1,T(t1),s2)", m_random);
    bare.leaf(L"s1")->RenewModel(nullptr);
    bare.leaf(L"s2")->RenewModel(nullptr);
    EXPECT_EQ(walk(bare.root->BeginCachedLeaf(), bare.root), (Names{L"t1", L"s2"}));
}

TEST_F(IteratorsTest, RandomTreesWalkConsistently) {
    for (int round = 0; round < 30; ++round) {
        Inner root = BuildRandomTree(m_random, 5 + round * 4);
        Names forward = walk(root->BeginNode(), root);
        Names backward = walk(root->LastNode(), root, -1);
        std::reverse(backward.begin(), backward.end());
        ASSERT_EQ(forward, backward) << "round " << round;

        // The leaf walk is the node walk's leaves, in the same order, both ways.
        Names leaves;
        for (NodeIterator it = root->BeginNode(); it; ++it) {
            if (it.GetCurrentNode()->IsLeaf()) {
                leaves.push_back(it.GetCurrentNode()->GetDescription());
            }
        }
        EXPECT_EQ(walk(root->BeginLeaf(), root), leaves);
        Names leavesBackward = walk(root->LastLeaf(), root, -1);
        std::reverse(leavesBackward.begin(), leavesBackward.end());
        EXPECT_EQ(leavesBackward, leaves);
        EXPECT_EQ(root->GetNrLeafNodes(), leaves.size());

        // Every node found directly stands where the walk reaches it.
        for (NodeIterator it = root->BeginNode(); it; ++it) {
            EXPECT_EQ(root->Find(Node(it.GetCurrentNode())), it);
        }
    }
}

TEST_F(IteratorsTest, RandomAccessAndSamplingOverSurfels) {
    Inner R = m_manager.CreateInnerNode();
    std::vector<Leaf> leaves;
    for (uint32_t count : {3u, 0u, 2u}) {
        leaves.push_back(m_manager.CreateLeafNode(MakeModel(count, count + 1)));
        leaves.back()->SetRelativeTrafo(RandomRigid(m_random));
        m_manager.AppendChild(R, leaves.back(), true);
    }
    KaCTransformationNode::KaNRandomAccessSurfelIterator ras = R->GetRas();
    EXPECT_EQ(ras.GetFirstSurfelIndices(), (std::vector<unsigned int>{0, 3, 3, 5}));
    EXPECT_EQ(ras.GetNrOfOverallSurfels(), 5u);
    // Numbers 3 and 4 belong to the third image, also when looked up out of order.
    for (unsigned int i : {4u, 0u, 3u, 2u}) {
        const Leaf& leaf = leaves[i < 3 ? 0 : 2];
        unsigned int local = i < 3 ? i : i - 3;
        auto collection =
            leaf->GetModel()->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
        EXPECT_EQ(ras.GetTransformation(i), leaf->GetRelativeTrafo());
        EXPECT_EQ(ras.GetPosition(i), collection->GetSurfel(local).position);
        EXPECT_EQ(ras.GetColor(i).r, collection->GetSurfel(local).color.r);
        EXPECT_EQ(ras.GetCurvature(i), collection->GetSurfel(local).curvature);
        EXPECT_EQ(ras.GetQuality(i), collection->GetSurfel(local).quality);
        EXPECT_EQ(ras.GetTissueType(i), collection->GetSurfel(local).tissueType);
        EXPECT_EQ(ras.GetBoundaryFlag(i), collection->GetSurfel(local).boundary);
    }
    EXPECT_THROW(ras.GetPosition(5), CbException);

    // A collection that shrank after the snapshot is not read past its end.
    CbSmartPointer<KaCSurfelCollectionCCT> third = CbConstCast<KaCSurfelCollectionCCT>(
        leaves[2]->GetModel()->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
    third->Resize(1);
    EXPECT_EQ(ras.GetPosition(3), third->GetSurfel(0).position);
    EXPECT_THROW(ras.GetPosition(4), CbException);
    EXPECT_THROW(ras.GetNormal(4), CbException);

    // From the leaf itself: the identity, the same surfels.
    auto fromLeaf = leaves[0]->GetRas();
    EXPECT_EQ(fromLeaf.GetNrOfOverallSurfels(), 3u);
    EXPECT_EQ(fromLeaf.GetTransformation(2), c_matIdentityD);

    // Sampling: numbers (j · 1073676287) mod N.
    Inner ten = m_manager.CreateInnerNode();
    m_manager.AppendChild(ten, m_manager.CreateLeafNode(MakeModel(10)), true);
    std::vector<unsigned int> samples;
    for (auto rss = ten->BeginRss(4); rss; ++rss) {
        samples.push_back(rss.GetSurfelIndex());
    }
    EXPECT_EQ(samples, (std::vector<unsigned int>{0, 7}));
    EXPECT_FALSE(ten->BeginRss(20));
    EXPECT_THROW(ten->BeginRss(0), CbException);

    Inner four = m_manager.CreateInnerNode();
    m_manager.AppendChild(four, m_manager.CreateLeafNode(MakeModel(4)), true);
    auto rss = four->BeginRss(1);
    rss.InitByNrSamples(3);
    samples.clear();
    for (; rss; ++rss) {
        samples.push_back(rss.GetSurfelIndex());
        EXPECT_EQ(rss.GetPosition(), rss.GetRandomAccess().GetPosition(rss.GetSurfelIndex()));
    }
    EXPECT_EQ(samples, (std::vector<unsigned int>{0, 3, 2}));
}

TEST_F(IteratorsTest, QualityDefaultsAndSequentialSurfelWalks) {
    auto plain = CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetBasic);
    KaCSurfel surfel;
    surfel.quality = 0.25f;
    plain->AddSurfel(surfel);
    plain->AddSurfel(surfel);
    Leaf noQuality = m_manager.CreateLeafNode(KaCModelCCT::Create(plain, true));
    auto ras = noQuality->GetRas();
    EXPECT_EQ(ras.GetQuality(0), 1.0f);
    EXPECT_EQ(ras.GetQuality(1), 1.0f);
    EXPECT_THROW(ras.GetColor(0), CbException);

    Leaf five = m_manager.CreateLeafNode(MakeModel(5));
    five->SetRelativeTrafo(RandomRigid(m_random));
    int visited = 0;
    for (auto it = five->BeginSurfel(); it; ++it) {
        EXPECT_EQ(it.GetTransformation(), c_matIdentityD);
        EXPECT_EQ(it.GetSurfelIndex(), static_cast<uint32_t>(visited));
        ++visited;
    }
    EXPECT_EQ(visited, 5);

    Inner R = m_manager.CreateInnerNode();
    Leaf two = m_manager.CreateLeafNode(MakeModel(2));
    two->SetRelativeTrafo(RandomRigid(m_random));
    m_manager.AppendChild(R, five, true);
    m_manager.AppendChild(R, two, true);
    std::vector<std::pair<const KaCSurfelContainer*, uint32_t>> seen;
    for (auto it = R->BeginSurfel(); it; ++it) {
        seen.push_back({it.GetContainer().Get(), it.GetSurfelIndex()});
        const Leaf& owner = seen.size() <= 5 ? five : two;
        EXPECT_EQ(it.GetTransformation(), owner->GetRelativeTrafo());
    }
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[4].second, 4u);
    EXPECT_EQ(seen[5].second, 0u);
    EXPECT_NE(seen[4].first, seen[5].first);
}
