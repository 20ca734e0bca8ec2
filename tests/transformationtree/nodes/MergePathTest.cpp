#include <gtest/gtest.h>

#include <vector>

#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/nodes/ModelBuildingTestSupport.h"

using namespace modelbuildingtest;
using TreeTestSupport::MakeModel;
using TreeTestSupport::RandomAffine;
using TreeTestSupport::RandomRigid;

namespace {

class MergePath : public TreeTestSupport::TreeFixture {
protected:
    // A node vector of leaves holding `models`, each element with the given trafo.
    KaCNodeVector elements(const std::vector<CbSmartPointer<KaCModelCCT>>& models,
                           const std::vector<CbMatrix4Rd>& trafos) {
        KaCNodeVector nodes;
        for (size_t i = 0; i < models.size(); ++i) {
            nodes.emplace_back(
                CbSmartPointer<const KaCTransformationNode>(m_manager.CreateLeafNode(models[i])),
                trafos[i]);
        }
        return nodes;
    }
};

}  // namespace

TEST_F(MergePath, CarriesEverySurfelByItsElementTrafoThenTheExtraOneInOrder) {
    const std::vector<CbSmartPointer<KaCModelCCT>> models = {MakeModel(3, 1), MakeModel(2, 2),
                                                             MakeModel(4, 4), MakeModel(40, 3)};
    const std::vector<CbMatrix4Rd> trafos = {RandomRigid(m_random), RandomRigid(m_random),
                                             RandomAffine(m_random), RandomRigid(m_random)};
    const KaCNodeVector nodes = elements(models, trafos);
    const CbMatrix4Rf extra(RandomRigid(m_random));

    for (const CbMatrix4Rf* trafo : {static_cast<const CbMatrix4Rf*>(nullptr), &extra}) {
        SCOPED_TRACE(trafo != nullptr ? "with the extra trafo" : "without the extra trafo");
        const auto result = KaCTransformationNode::ComputeSubsampling(
            nodes, KaCModelCCT::eSurfelCollectionTypeStandard, 0.0f, 3.0f, trafo);
        ASSERT_TRUE(result);
        ASSERT_EQ(result->GetNrSurfels(), 3u + 2u + 4u + 40u);
        EXPECT_EQ(result->GetAttributeSet(), KaCSurfelContainer::eSurfelAttributeSetFull);

        uint32_t at = 0;
        CyBoundingBox3D box;
        for (size_t e = 0; e < nodes.size(); ++e) {
            // Computed here in double: the element's trafo, then the extra one.
            const CbMatrix4Rd m =
                trafo != nullptr ? Product(trafos[e], ToDouble(*trafo)) : trafos[e];
            for (const KaCSurfel& in : SurfelsOf(models[e])) {
                SCOPED_TRACE(testing::Message() << "element " << e << ", result surfel " << at);
                const KaCSurfel out = result->GetSurfel(at++);
                const auto position = Apply(m, in.position, 1.0);
                for (int a = 0; a < 3; ++a) {
                    EXPECT_NEAR(out.position[a], position[a],
                                2e-5 * std::max(1.0, std::fabs(position[a])));
                }
                box.Extend(out.position);
                // The normal is turned (not moved) and quantised once more.
                EXPECT_LE(AngleDegrees(Apply(m, in.normal, 0.0), out.normal),
                          KaCQuantizedNormal::GetMaxAngularErrorDegrees() + 0.01);
                EXPECT_TRUE(out.color == in.color && out.curvature == in.curvature &&
                            out.quality == in.quality && out.tissueType == in.tissueType &&
                            out.boundary == in.boundary);
            }
        }
        EXPECT_EQ(result->GetBoundingBox(), box);
    }
}

TEST_F(MergePath, IgnoresSpheresAndRefusesElementsWithoutModels) {
    const KaCNodeVector nodes = elements({MakeModel(6, 4)}, {RandomRigid(m_random)});
    const std::vector<CyBoundingSphere> farAway = {{{1000, 1000, 1000}, 0.5f}};
    const auto result = KaCTransformationNode::ComputeSubsampling(
        nodes, KaCModelCCT::eSurfelCollectionTypeStandard, farAway, 0.0f, 0.0f, nullptr);
    EXPECT_EQ(result->GetNrSurfels(), 6u);

    // An inner node without a model has nothing to merge.
    KaCNodeVector withEmpty = nodes;
    withEmpty.emplace_back(CbSmartPointer<const KaCTransformationNode>(m_manager.CreateInnerNode()),
                           CbMatrix4Rd());
    for (float cellSize : {0.0f, 0.5f}) {
        EXPECT_THROW(
            KaCTransformationNode::ComputeSubsampling(
                withEmpty, KaCModelCCT::eSurfelCollectionTypeStandard, cellSize, 0.0f, nullptr),
            CbExceptionPreconditionViolation);
    }
}

TEST_F(MergePath, EmptyNodeVectorsGiveEmptyCollectionsOnBothPathsOrRefuseABadCellSize) {
    const KaCNodeVector none;
    const CbMatrix4Rf extra(RandomRigid(m_random));
    for (float cellSize : {0.0f, 0.25f, 3.0f}) {
        for (const CbMatrix4Rf* trafo : {static_cast<const CbMatrix4Rf*>(nullptr), &extra}) {
            const auto result = KaCTransformationNode::ComputeSubsampling(
                none, KaCModelCCT::eSurfelCollectionTypeHighResolution, cellSize, 1.0f, trafo);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->GetNrSurfels(), 0u);
            EXPECT_TRUE(result->GetBoundingBox().IsEmpty());
            const auto withSpheres = KaCTransformationNode::ComputeSubsampling(
                none, KaCModelCCT::eSurfelCollectionTypeStandard, {}, cellSize, 1.0f, trafo);
            ASSERT_TRUE(withSpheres);
            EXPECT_EQ(withSpheres->GetNrSurfels(), 0u);
        }
    }
    // A cell size the grid cannot take is refused even when there is nothing to sample.
    ExpectRefused(
        [&] {
            KaCTransformationNode::ComputeSubsampling(
                none, KaCModelCCT::eSurfelCollectionTypeStandard, {}, -0.5f, 1.0f, nullptr);
        },
        "cell size");
}
