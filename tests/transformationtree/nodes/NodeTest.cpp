#include <gtest/gtest.h>

#include "platform/abacus/CyExceptionNotInvertible.h"
#include "platform/harbor/CbFactory.h"
#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;

namespace {

CbMatrix4Rd singular() {
    CbMatrix4Rd m;
    m(0, 0) = 0.0;  // the x axis collapses
    return m;
}

}  // namespace

TEST_F(NodesTest, RevisionMasksSelectKinds) {
    Inner node = m_manager.CreateInnerNode();
    const int64_t model = node->GetNodeRevision(KaCTransformationNode::eRevisionModel);
    const int64_t trafo = node->GetNodeRevision(KaCTransformationNode::eRevisionTrafo);
    EXPECT_LT(model, trafo);
    EXPECT_EQ(node->GetNodeRevision(0), -1);
    EXPECT_EQ(node->GetNodeRevision(KaCTransformationNode::eRevisionAll), trafo);
    EXPECT_EQ(node->GetNodeRevision(0xFFFFFFFCu), -1);
    EXPECT_EQ(node->GetNodeRevision(0xFFFFFFFFu), trafo);

    // A new transformation revision leaves the model revision alone and is the newest.
    Inner later = m_manager.CreateInnerNode();
    node->SetRelativeTrafo(RandomRigid(m_random));
    EXPECT_EQ(node->GetNodeRevision(KaCTransformationNode::eRevisionModel), model);
    EXPECT_GT(node->GetNodeRevision(KaCTransformationNode::eRevisionTrafo),
              later->GetNodeRevision(KaCTransformationNode::eRevisionAll));

    // Both kinds drawn at once get distinct, consecutive numbers, model first.
    node->NewNodeRevision(0xFFFFFFFFu);
    EXPECT_EQ(node->GetNodeRevision(KaCTransformationNode::eRevisionTrafo),
              node->GetNodeRevision(KaCTransformationNode::eRevisionModel) + 1);
}

TEST_F(NodesTest, RelativeTrafoChainsAndInverts) {
    NamedTree tree = BuildTree("R(a(b))", m_random);
    // Non-rigid matrices make every wrong product order visible.
    const CbMatrix4Rd R = RandomAffine(m_random), A = RandomAffine(m_random),
                      B = RandomAffine(m_random);
    tree.root->SetRelativeTrafo(R);
    tree["a"]->SetRelativeTrafo(A);
    tree["b"]->SetRelativeTrafo(B);
    Node b = tree["b"];

    EXPECT_EQ(b->GetRelativeTrafo(b->GetFather()), B);
    EXPECT_TRUE(Near(B * A, b->GetRelativeTrafo(tree.root)));
    EXPECT_TRUE(Near(B * A * R, b->GetRelativeTrafo(nullptr)));
    EXPECT_EQ(tree.root->GetRelativeTrafo(tree.root), c_matIdentityD);
    // An ancestor that is not one runs the walk to the root.
    EXPECT_TRUE(Near(B * A * R, b->GetRelativeTrafo(m_manager.CreateInnerNode())));

    const CbMatrix4Rd T = RandomAffine(m_random);
    const int64_t before = b->GetNodeRevision(KaCTransformationNode::eRevisionTrafo);
    b->SetRelativeTrafo(T, tree.root);
    EXPECT_TRUE(Near(T, b->GetRelativeTrafo(tree.root), 1e-9));
    EXPECT_GT(b->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), before);

    // A singular father-to-ancestor transformation throws and changes nothing.
    tree["a"]->SetRelativeTrafo(singular());
    const CbMatrix4Rd kept = b->GetRelativeTrafo();
    const int64_t revision = b->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    EXPECT_THROW(b->SetRelativeTrafo(T, tree.root), CyExceptionNotInvertible);
    EXPECT_EQ(b->GetRelativeTrafo(), kept);
    EXPECT_EQ(b->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);

    // Without father it throws CbException, also unchanged.
    const CbMatrix4Rd rootTrafo = tree.root->GetRelativeTrafo();
    EXPECT_THROW(tree.root->SetRelativeTrafo(T, tree.root), CbException);
    EXPECT_EQ(tree.root->GetRelativeTrafo(), rootTrafo);
}

TEST_F(NodesTest, DescriptionsAttributesModelSlotAndCopies) {
    CbSmartPointer<KaCModelCCT> innerModel = MakeModel(2);
    CbSmartPointer<KaCModelCCT> leafModel = MakeModel(2);
    innerModel->SetFilename(L"inner.model");
    leafModel->SetFilename(L"leaf.model");
    Inner inner = m_manager.CreateInnerNode();
    inner->SetModel(innerModel, 42);
    Leaf leaf = m_manager.CreateLeafNode(leafModel);

    inner->SetDescription(L"Oberkiefer \u00e4");
    leaf->SetDescription(L"Scan 1");
    EXPECT_EQ(innerModel->GetFilename(), L"Oberkiefer \u00e4");
    EXPECT_EQ(leafModel->GetFilename(), L"leaf.model");
    EXPECT_EQ(inner->GetModelRevision(), 42);

    // The clone factory copies trafo, description, flags and revisions, nothing else.
    inner->SetRelativeTrafo(RandomRigid(m_random));
    inner->SetVisible(true);
    inner->SetCleanedUp(true);
    leaf->IsKeyframe(true);
    leaf->SetIsNewEntryScan(true);
    auto innerCopy = CbCloneByName<KaCTransformationNodeInner>(*inner);
    auto leafCopy = CbCloneByName<KaCTransformationNodeLeaf>(*leaf);
    ASSERT_TRUE(innerCopy && leafCopy);
    EXPECT_NE(innerCopy->GetID(), inner->GetID());
    EXPECT_EQ(innerCopy->GetName(), innerCopy->GetID().ToString());
    EXPECT_EQ(innerCopy->GetRelativeTrafo(), inner->GetRelativeTrafo());
    EXPECT_EQ(innerCopy->GetDescription(), inner->GetDescription());
    EXPECT_TRUE(innerCopy->IsVisible() && innerCopy->IsCleanedUp());
    EXPECT_EQ(innerCopy->GetNodeRevision(KaCTransformationNode::eRevisionModel),
              inner->GetNodeRevision(KaCTransformationNode::eRevisionModel));
    EXPECT_EQ(innerCopy->GetNodeRevision(KaCTransformationNode::eRevisionTrafo),
              inner->GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
    EXPECT_FALSE(innerCopy->GetModel());
    EXPECT_EQ(innerCopy->GetModelRevision(), 42);
    EXPECT_FALSE(innerCopy->GetFather());
    EXPECT_FALSE(leafCopy->GetModel());
    EXPECT_FALSE(leafCopy->IsKeyframe());
    EXPECT_TRUE(leafCopy->IsNewEntryScan());

    inner->DeleteModel();
    EXPECT_FALSE(inner->GetModel());
    EXPECT_EQ(inner->GetModelRevision(), -1);
}

TEST_F(NodesTest, AssumeAttributesFollowsTheKindOfNode) {
    NamedTree tree = BuildTree("R(S(s1,s2,s3),T(t1,t2,t3),U(u1,u2))", m_random);
    Inner source = tree.inner(L"S");
    source->SetModel(MakeModel(1), 7);
    source->SetVisible(true);
    Inner sameCount = tree.inner(L"T");
    Inner fewer = tree.inner(L"U");
    const int64_t revision = sameCount->GetNodeRevision(KaCTransformationNode::eRevisionAll);

    sameCount->AssumeAttributes(source, KaCTransformationNode::eAttributesAndModel);
    EXPECT_EQ(sameCount->GetRelativeTrafo(), source->GetRelativeTrafo());
    EXPECT_EQ(sameCount->GetDescription(), L"S");
    EXPECT_TRUE(sameCount->IsVisible());
    EXPECT_EQ(sameCount->GetModel(), source->GetModel());
    EXPECT_EQ(sameCount->GetModelRevision(), 7);
    EXPECT_EQ(sameCount->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);

    fewer->AssumeAttributes(source, KaCTransformationNode::eAttributesAndModel);
    EXPECT_EQ(fewer->GetDescription(), L"S");
    EXPECT_FALSE(fewer->GetModel());

    Inner other = m_manager.CreateInnerNode();
    for (int i = 0; i < 3; ++i) {
        m_manager.AppendChild(other, m_manager.CreateLeafNode(MakeModel(1)), true);
    }
    other->AssumeAttributes(source, KaCTransformationNode::eAttributesOnly);
    EXPECT_FALSE(other->GetModel());

    // Across kinds nothing is taken over; between leaves the selector does not matter.
    const CbMatrix4Rd leafTrafo = tree["t1"]->GetRelativeTrafo();
    tree["t1"]->AssumeAttributes(source, KaCTransformationNode::eAttributesAndModel);
    EXPECT_EQ(tree["t1"]->GetRelativeTrafo(), leafTrafo);
    other->AssumeAttributes(tree["t1"], KaCTransformationNode::eAttributesAndModel);
    EXPECT_EQ(other->GetDescription(), L"S");

    Leaf target = tree.leaf(L"s1");
    CbSmartPointer<const KaCModelCCT> model = target->GetModel();
    tree.leaf(L"u1")->IsKeyframe(true);
    target->AssumeAttributesIncrementVersion(tree["u1"]);
    EXPECT_EQ(target->GetDescription(), L"u1");
    EXPECT_EQ(target->GetRelativeTrafo(), tree["u1"]->GetRelativeTrafo());
    EXPECT_EQ(target->GetModel(), model);
    EXPECT_FALSE(target->IsKeyframe());
}

TEST_F(NodesTest, LeafModelsAndSubtreeRevisions) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    Leaf a1 = tree.leaf(L"a1");
    EXPECT_TRUE(a1->IsVisible());
    EXPECT_FALSE(a1->IsKeyframe() || a1->IsNewEntryScan() || a1->IsModelRenewed());
    EXPECT_EQ(a1->GetModelRevision(), a1->GetNodeRevision(KaCTransformationNode::eRevisionModel));
    a1->SetNodeRevision(3, KaCTransformationNode::eRevisionModel);
    EXPECT_EQ(a1->GetModelRevision(), 3);

    // RenewModel with the current model still draws both kinds; the flag blocks it.
    const int64_t trafo = a1->GetNodeRevision(KaCTransformationNode::eRevisionTrafo);
    a1->RenewModel(a1->GetModel());
    EXPECT_GT(a1->GetModelRevision(), trafo);
    EXPECT_GT(a1->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), trafo);
    CbSmartPointer<KaCModelCCT> renewed = MakeModel(5);
    a1->SetModelRenewed(true);
    a1->RenewModel(renewed);
    EXPECT_NE(a1->GetModel(), renewed);
    a1->SetModelRenewed(false);
    a1->RenewModel(renewed);
    EXPECT_EQ(a1->GetModel(), renewed);

    Inner A = tree.inner(L"A");
    EXPECT_EQ(A->GetDataNodeRevisionSubtree(), a1->GetModelRevision());
    EXPECT_EQ(A->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionModel),
              std::max({A->GetNodeRevision(KaCTransformationNode::eRevisionModel),
                        a1->GetNodeRevision(KaCTransformationNode::eRevisionModel),
                        tree["a2"]->GetNodeRevision(KaCTransformationNode::eRevisionModel)}));
    EXPECT_EQ(A->GetNodeRevisionSubtree(0), -1);
    EXPECT_EQ(m_manager.CreateInnerNode()->GetDataNodeRevisionSubtree(), -1);

    // The update raises every inner node to its subtree's maxima and changes no leaf.
    const int64_t leafRevision = tree["b"]->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    tree["b"]->NewNodeRevision(KaCTransformationNode::eRevisionTrafo);
    const int64_t newest = tree["b"]->GetNodeRevision(KaCTransformationNode::eRevisionTrafo);
    tree.root->UpdateNodeRevisionSubtree(nullptr);
    EXPECT_EQ(tree.root->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), newest);
    EXPECT_EQ(tree.root->GetNodeRevision(KaCTransformationNode::eRevisionModel),
              tree.root->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionModel));
    EXPECT_EQ(A->GetNodeRevision(KaCTransformationNode::eRevisionModel),
              A->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionModel));
    int64_t reported[2] = {0, 0};
    A->UpdateNodeRevisionSubtree(reported);
    EXPECT_EQ(reported[0], A->GetNodeRevision(KaCTransformationNode::eRevisionModel));
    EXPECT_EQ(reported[1], A->GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
    EXPECT_GT(newest, leafRevision);
}

TEST_F(NodesTest, BoundingBoxesInTheirFrames) {
    NamedTree tree = BuildTree("R(A(a1))", m_random);
    Leaf a1 = tree.leaf(L"a1");
    const CyBoundingBox3D modelBox = a1->GetModel()->GetBoundingBox();
    // A leaf's box is its model's, whatever the matrix.
    EXPECT_EQ(a1->GetBoundingBox(RandomRigid(m_random)), modelBox);

    const CbMatrix4Rd T = RandomRigid(m_random);
    CyBoundingBox3D expected = modelBox;
    const CbMatrix4Rd leafToRoot = a1->GetRelativeTrafo(tree.root);
    expected.Transform(CbMatrix4Rf(leafToRoot) * CbMatrix4Rf(T));
    EXPECT_EQ(tree.root->GetBoundingBox(T), expected);
    EXPECT_TRUE(m_manager.CreateInnerNode()->GetBoundingBox(T).IsEmpty());
}
