#include <gtest/gtest.h>

#include <vector>

#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/nodes/ModelBuildingTestSupport.h"

using namespace modelbuildingtest;

namespace {

class GridPath : public TreeTestSupport::TreeFixture {
protected:
    // Leaves holding one model each, in a node vector with the given trafos; `common` gets
    // the surfels carried into the common frame (exactly: see ExactRigid).
    KaCNodeVector elements(const std::vector<std::vector<KaCSurfel>>& clouds,
                           const std::vector<CbMatrix4Rd>& trafos, const CbMatrix4Rd& extra,
                           std::vector<KaCSurfel>& common) {
        KaCNodeVector nodes;
        for (size_t e = 0; e < clouds.size(); ++e) {
            nodes.emplace_back(CbSmartPointer<const KaCTransformationNode>(
                                   m_manager.CreateLeafNode(ModelOf(clouds[e]))),
                               trafos[e]);
            const CbMatrix4Rd m = Product(trafos[e], extra);
            for (KaCSurfel s : clouds[e]) {
                const auto p = Apply(m, s.position, 1.0);
                s.position = {static_cast<float>(p[0]), static_cast<float>(p[1]),
                              static_cast<float>(p[2])};
                common.push_back(s);
            }
        }
        return nodes;
    }

    // A cloud on a grid of 1/64 (so that exact motions move it without rounding) spanning
    // [-extent, extent], with a share of its points exactly on faces of 0.5 cells.
    std::vector<KaCSurfel> dyadicCloud(size_t count, int extent) {
        std::uniform_int_distribution<int> sixtyFourths(-64 * extent, 64 * extent);
        std::uniform_int_distribution<int> halves(-2 * extent, 2 * extent);
        std::uniform_real_distribution<float> quality(0.0f, 2.0f);
        std::vector<KaCSurfel> cloud;
        for (size_t i = 0; i < count; ++i) {
            KaCSurfel s;
            for (int a = 0; a < 3; ++a) {
                s.position[a] =
                    i % 4 == 0 && a != 1 ? halves(m_random) * 0.5f : sixtyFourths(m_random) / 64.0f;
            }
            s.normal = CbVector3f(quality(m_random) - 1.0f, quality(m_random) - 1.0f, 1.0f);
            s.quality = quality(m_random);
            s.color = {static_cast<uint8_t>(i), static_cast<uint8_t>(3 * i), 9};
            s.tissueType = static_cast<uint8_t>(i % 5);
            cloud.push_back(s);
        }
        return cloud;
    }
};

// The representatives must be the occupied cells exactly once each, in the order of their
// first surfel: checked by position (the weighted mean of the cell, inside the cell).
void expectOneSurfelPerOccupiedCell(const KaCSurfelCollectionCCT& result,
                                    const std::vector<KaCSurfel>& common, float cellSize,
                                    float parameter) {
    const std::vector<Cell> cells = OccupiedCells(common, cellSize);
    ASSERT_EQ(result.GetNrSurfels(), cells.size());
    for (uint32_t i = 0; i < cells.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "cell " << i);
        const CbVector3f got = result.GetPosition(i);
        const auto mean = MeanPosition(cells[i], parameter);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(got[a], mean[a], 1e-6 * std::max(1.0, std::fabs(mean[a])));
            if (std::fabs(cells[i].key[a]) < 1e6) {
                EXPECT_GE(got[a], cells[i].key[a] * cellSize);
                EXPECT_LE(got[a], (cells[i].key[a] + 1) * cellSize);
            }
        }
    }
}

}  // namespace

TEST_F(GridPath, KeepsEveryOccupiedCellOnceAndOnlyOccupiedCells) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        std::vector<std::vector<KaCSurfel>> clouds;
        std::vector<CbMatrix4Rd> trafos;
        for (int e = 0; e < 1 + round % 4; ++e) {
            clouds.push_back(dyadicCloud(10 + 15 * static_cast<size_t>(round), 1 + round % 3));
            trafos.push_back(ExactRigid(m_random));
        }
        const CbMatrix4Rd extra = ExactRigid(m_random);
        const CbMatrix4Rf extraF(extra);
        std::vector<KaCSurfel> common;
        const KaCNodeVector nodes = elements(clouds, trafos, extra, common);
        // Parameters of every kind of summing: plain, quality-weighted as surfels come, and
        // (beyond the summed range) with every surfel kept.
        const float parameter = round % 3 == 0 ? 0.0f : round % 3 == 1 ? 1.0f : 7.5f;
        const auto result = KaCTransformationNode::ComputeSubsampling(
            nodes, KaCModelCCT::eSurfelCollectionTypeStandard, 0.5f, parameter, &extraF);
        expectOneSurfelPerOccupiedCell(*result, common, 0.5f, parameter);
        CyBoundingBox3D box;
        for (uint32_t i = 0; i < result->GetNrSurfels(); ++i) {
            box.Extend(result->GetPosition(i));
        }
        EXPECT_EQ(result->GetBoundingBox(), box);
    }
}

TEST_F(GridPath, SpheresFilterTheSurfelsOfTheGridPath) {
    std::vector<KaCSurfel> cloud = dyadicCloud(300, 3);
    std::vector<KaCSurfel> common;
    const KaCNodeVector nodes = elements({cloud}, {ExactRigid(m_random)}, CbMatrix4Rd(), common);
    // Around two of the cloud's points, in the common frame.
    const std::vector<CyBoundingSphere> spheres = {{common[0].position, 1.5f},
                                                   {common[1].position, 1.0f}};
    std::vector<KaCSurfel> inside;
    for (const KaCSurfel& s : common) {
        if (spheres[0].Contains(s.position) || spheres[1].Contains(s.position)) {
            inside.push_back(s);
        }
    }
    ASSERT_GT(inside.size(), 5u);
    ASSERT_LT(inside.size(), common.size());
    const auto result = KaCTransformationNode::ComputeSubsampling(
        nodes, KaCModelCCT::eSurfelCollectionTypeStandard, spheres, 0.5f, 0.0f, nullptr);
    expectOneSurfelPerOccupiedCell(*result, inside, 0.5f, 0.0f);
}
