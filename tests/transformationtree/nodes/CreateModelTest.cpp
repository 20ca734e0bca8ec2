#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/nodes/ModelBuildingTestSupport.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

using namespace modelbuildingtest;
using TreeTestSupport::BuildTree;
using TreeTestSupport::MakeModel;

namespace {

class CreateModel : public TreeTestSupport::TreeFixture {};

// `expected` carried by `m` (in double) against `actual`, surfel by surfel.
void expectCarried(const std::vector<KaCSurfel>& expected, const CbMatrix4Rd& m,
                   const std::vector<KaCSurfel>& actual, size_t offset) {
    ASSERT_GE(actual.size(), offset + expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "surfel " << offset + i);
        const KaCSurfel& out = actual[offset + i];
        const auto position = Apply(m, expected[i].position, 1.0);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(out.position[a], position[a], 2e-5 * std::max(1.0, std::fabs(position[a])));
        }
        EXPECT_LE(AngleDegrees(Apply(m, expected[i].normal, 0.0), out.normal),
                  KaCQuantizedNormal::GetMaxAngularErrorDegrees() + 0.01);
        EXPECT_EQ(out.color, expected[i].color);
        EXPECT_EQ(out.quality, expected[i].quality);
    }
}

}  // namespace

TEST_F(CreateModel, LeavesTheStampAtMinusOneAndDrawsNoNodeRevision) {
    auto tree = BuildTree("R(A(a1,a2),b)", m_random);
    const auto old = MakeModel(4, 77);
    tree.root->SetModel(old, 17);
    ASSERT_EQ(tree.root->GetModelRevision(), 17);
    const int64_t modelRevision = tree.root->GetNodeRevision(KaCTransformationNode::eRevisionModel);
    const int64_t trafoRevision = tree.root->GetNodeRevision(KaCTransformationNode::eRevisionTrafo);

    tree.root->CreateModel(false, 0.0f, 0.0f);
    EXPECT_EQ(tree.root->GetModelRevision(), -1);
    EXPECT_EQ(tree.root->GetNodeRevision(KaCTransformationNode::eRevisionModel), modelRevision);
    EXPECT_EQ(tree.root->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), trafoRevision);
    ASSERT_TRUE(tree.root->GetModel());
    EXPECT_NE(tree.root->GetModel(), CbSmartPointer<const KaCModelCCT>(old));
    // Its own old model plays no part: three leaves of three surfels each.
    EXPECT_EQ(SurfelsOf(tree.root->GetModel()).size(), 9u);
}

TEST_F(CreateModel, OnALeafChangesNothing) {
    const auto tree = BuildTree("R(L)", m_random);
    const auto leaf = tree.leaf(L"L");
    const auto model = leaf->GetModel();
    const int64_t revisions[2] = {leaf->GetNodeRevision(KaCTransformationNode::eRevisionModel),
                                  leaf->GetNodeRevision(KaCTransformationNode::eRevisionTrafo)};
    for (float cellSize : {0.0f, 0.5f, std::numeric_limits<float>::quiet_NaN()}) {
        leaf->CreateModel(cellSize != 0.0f, cellSize, 1.0f);
        EXPECT_EQ(leaf->GetModel(), model);
        EXPECT_EQ(leaf->GetNodeRevision(KaCTransformationNode::eRevisionModel), revisions[0]);
        EXPECT_EQ(leaf->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), revisions[1]);
        EXPECT_EQ(SurfelsOf(leaf->GetModel()).size(), 3u);
    }
}

TEST_F(CreateModel, RefusedCellSizesLeaveTheOldModelInPlace) {
    auto tree = BuildTree("R(A(a1,a2),b)", m_random);
    const auto old = MakeModel(5, 91);
    tree.root->SetModel(old, 42);
    for (float bad :
         {std::numeric_limits<float>::quiet_NaN(), -1.0f, std::numeric_limits<float>::infinity(),
          -std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(testing::Message() << "cell size " << bad);
        ExpectRefused([&] { tree.root->CreateModel(false, bad, 1.0f); }, "cell size");
        EXPECT_EQ(tree.root->GetModel(), CbSmartPointer<const KaCModelCCT>(old));
        EXPECT_EQ(tree.root->GetModelRevision(), 42);
    }
}

TEST_F(CreateModel, ANodeWithoutLeavesOrModelsGetsAnEmptyModel) {
    auto tree = BuildTree("R(E)", m_random, true, {"E"});
    for (float cellSize : {0.0f, 0.5f}) {
        tree.root->CreateModel(false, cellSize, 1.0f);
        ASSERT_TRUE(tree.root->GetModel());
        EXPECT_EQ(SurfelsOf(tree.root->GetModel()).size(), 0u);
        EXPECT_EQ(tree.root->GetModelRevision(), -1);
    }
}

TEST_F(CreateModel, AChildModelStandsForItsSubtreeInTheFathersBuild) {
    // The leaves below A have no model: a build that entered A's subtree would fail.
    auto root = m_manager.CreateInnerNode();
    auto a = m_manager.CreateInnerNode();
    auto b = m_manager.CreateLeafNode(MakeModel(4, 3));
    a->SetRelativeTrafo(TreeTestSupport::RandomRigid(m_random));
    b->SetRelativeTrafo(TreeTestSupport::RandomRigid(m_random));
    m_manager.AppendChild(root, a, true);
    m_manager.AppendChild(root, b, true);
    for (int i = 0; i < 2; ++i) {
        m_manager.AppendChild(a, m_manager.CreateLeafNode(nullptr), true);
    }
    EXPECT_ANY_THROW(root->CreateModel(false, 0.0f, 0.0f));
    EXPECT_FALSE(root->GetModel());

    const auto childModel = MakeModel(6, 8);
    a->SetModel(childModel, 5);
    root->CreateModel(false, 0.0f, 0.0f);
    const auto surfels = SurfelsOf(root->GetModel());
    ASSERT_EQ(surfels.size(), 6u + 4u);
    expectCarried(SurfelsOf(childModel), a->GetRelativeTrafo(), surfels, 0);
    expectCarried(SurfelsOf(b->GetModel()), b->GetRelativeTrafo(), surfels, 6);
}

TEST_F(CreateModel, ModelsBuiltBottomUpAreUsedByEveryBuildAbove) {
    auto tree = BuildTree("R(A(B(b1,b2,b3),a1),c)", m_random);
    // B's grid model has fewer surfels than its leaves (nine surfels, at most eight cells of
    // that size), so the counts tell which was read.
    tree.inner(L"B")->CreateModel(false, 1e6f, 0.0f);
    const size_t fromB = SurfelsOf(tree["B"]->GetModel()).size();
    ASSERT_LT(fromB, 9u);
    tree.inner(L"A")->CreateModel(false, 0.0f, 0.0f);
    EXPECT_EQ(SurfelsOf(tree["A"]->GetModel()).size(), fromB + 3u);
    // A's model stands for its subtree in R's build.
    tree.root->CreateModel(false, 0.0f, 0.0f);
    const auto surfels = SurfelsOf(tree.root->GetModel());
    ASSERT_EQ(surfels.size(), fromB + 3u + 3u);
    expectCarried(SurfelsOf(tree["A"]->GetModel()), tree["A"]->GetRelativeTrafo(), surfels, 0);
}

TEST_F(CreateModel, TheFlagChoosesTheHighResolutionCollection) {
    auto root = m_manager.CreateInnerNode();
    auto model = MakeModel(3, 21);
    auto highResolution = CbMakeShared<KaCSurfelCollectionCCT>(
        *MakeModel(8, 22)->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
    model->SetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeHighResolution, highResolution);
    auto leaf = m_manager.CreateLeafNode(model);
    m_manager.AppendChild(root, leaf, true);

    root->CreateModel(true, 0.0f, 0.0f);
    expectCarried(SurfelsOf(*highResolution), leaf->GetRelativeTrafo(), SurfelsOf(root->GetModel()),
                  0);
    EXPECT_EQ(SurfelsOf(root->GetModel()).size(), 8u);
    root->CreateModel(false, 0.0f, 0.0f);
    EXPECT_EQ(SurfelsOf(root->GetModel()).size(), 3u);
}
