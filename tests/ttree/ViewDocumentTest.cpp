#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <tuple>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStringConversion.h"
#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/SyntheticScanner.h"
#include "tools/ttree/ViewDocument.h"

namespace fs = std::filesystem;

namespace {

using EKind = ViewDocument::EKind;

// The demo session of 6 scans in 2 clusters, written once for all tests of this file.
class ViewDocumentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = fs::temp_directory_path() / ("ttree-view-doc-" + std::to_string(::getpid()));
        fs::remove_all(s_folder);
        TtreeRunner::Result demo =
            TtreeRunner::Run("demo --scans 6 --tracking 3 --out " + s_folder.string());
        ASSERT_EQ(demo.exitCode, 0) << demo.output;
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static KaCSessionFile::Contents session() {
        return KaCSessionFile::Read(s_folder / "session.ttree", false);
    }

    static fs::path s_folder;
};

fs::path ViewDocumentTest::s_folder;

ViewDocument::Options options(uint64_t maxPoints, float cell = 0.0f, std::string node = "") {
    ViewDocument::Options result;
    result.maxPoints = maxPoints;
    result.cellSize = cell;
    result.node = std::move(node);
    return result;
}

// The point `i` of the document.
CbVector3f pointOf(const ViewDocument& document, uint64_t i) {
    const float* p = document.GetPoints().GetPositions().data() + 3 * i;
    return CbVector3f(p[0], p[1], p[2]);
}

}  // namespace

TEST_F(ViewDocumentTest, HoldsTheTreeAndEveryScanCarriedIntoTheSessionFrame) {
    const KaCSessionFile::Contents contents = session();
    const ViewDocument document(contents, options(ViewDocument::c_defaultMaxPoints));
    const auto& nodes = document.GetNodes();
    ASSERT_FALSE(nodes.empty());
    EXPECT_EQ(nodes[0].kind, EKind::eRoot);
    EXPECT_EQ(nodes[0].parent, -1);
    EXPECT_EQ(nodes[0].id, "{" + CbToUtf8(contents.root->GetID().ToString()) + "}");
    EXPECT_FALSE(document.IsSubsampled());
    EXPECT_EQ(document.GetScanCount(), 6u);
    EXPECT_FLOAT_EQ(document.GetModelCellSize(), 0.3f);
    // The demo's scanner samples every 0.2 mm.
    EXPECT_GT(document.GetPointSpacing(), 0.1f);
    EXPECT_LT(document.GetPointSpacing(), 0.4f);

    size_t clusters = 0;
    std::set<uint64_t> sequences;
    uint64_t scanPoints = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        const ViewDocument::Node& node = nodes[i];
        clusters += node.kind == EKind::eCluster ? 1 : 0;
        for (uint32_t child : node.children) {
            ASSERT_LT(child, nodes.size());
            EXPECT_EQ(nodes[child].parent, static_cast<int32_t>(i));
            EXPECT_EQ(nodes[child].depth, node.depth + 1);
            EXPECT_GT(child, i) << "pre-order";
        }
        if (node.kind == EKind::eScan) {
            ASSERT_GE(node.scanCloud, 0);
            const ViewDocument::Cloud& cloud = document.GetClouds()[node.scanCloud];
            EXPECT_EQ(cloud.node, i);
            EXPECT_FALSE(cloud.model);
            EXPECT_EQ(cloud.count, node.surfels);
            scanPoints += cloud.count;
            ASSERT_TRUE(node.sequence.has_value());
            sequences.insert(*node.sequence);
            ASSERT_GE(node.cluster, 0);
            EXPECT_EQ(nodes[node.cluster].kind, EKind::eCluster);
            EXPECT_EQ(node.description, "scan_" + std::to_string(*node.sequence));
        } else if (node.modelCloud >= 0) {
            EXPECT_TRUE(document.GetClouds()[node.modelCloud].model);
            EXPECT_EQ(document.GetClouds()[node.modelCloud].node, i);
        }
    }
    EXPECT_EQ(clusters, 2u);
    EXPECT_EQ(sequences, (std::set<uint64_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(document.GetScanPoints(), scanPoints);
    EXPECT_GT(document.GetModelPoints(), 0u);
    EXPECT_EQ(document.GetPoints().GetCount(), scanPoints + document.GetModelPoints());
    EXPECT_EQ(document.GetSourceSurfels(), document.GetPoints().GetCount());

    // The demo's scanner gives the same scans again: each scan's cloud is its surfels,
    // in order, carried by its pose.
    SyntheticScanner scanner(6);
    for (uint32_t s = 0; s < 6; ++s) {
        SyntheticScanner::Scan scan = scanner.TakeScan(s);
        auto surfels = scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
        const ViewDocument::Node* node = nullptr;
        for (const auto& candidate : nodes) {
            node = candidate.sequence == s + 1 ? &candidate : node;
        }
        ASSERT_NE(node, nullptr);
        const ViewDocument::Cloud& cloud = document.GetClouds()[node->scanCloud];
        ASSERT_EQ(cloud.count, surfels->GetNrSurfels());
        float largest = 0.0f;
        for (uint32_t i = 0; i < surfels->GetNrSurfels(); ++i) {
            CbVector3f d = pointOf(document, cloud.first + i) -
                           scan.pose.TransformPoint(surfels->GetPosition(i));
            largest = std::max(largest, d.Length());
        }
        EXPECT_LT(largest, 1e-3f) << "scan " << s + 1;
    }
}

TEST_F(ViewDocumentTest, ThinsOutToFitTheLargestCountOrOnTheGivenCell) {
    const KaCSessionFile::Contents contents = session();
    const ViewDocument full(contents, options(ViewDocument::c_defaultMaxPoints));
    const uint64_t all = full.GetPoints().GetCount();

    const ViewDocument fitted(contents, options(all / 10));
    EXPECT_TRUE(fitted.IsSubsampled());
    EXPECT_GT(fitted.GetCellSize(), 0.0f);
    EXPECT_LE(fitted.GetPoints().GetCount(), all / 10);
    EXPECT_GT(fitted.GetPoints().GetCount(), all / 100) << "thinned out far more than needed";
    EXPECT_EQ(fitted.GetSourceSurfels(), all);
    EXPECT_FLOAT_EQ(fitted.GetPointSpacing(), fitted.GetCellSize());
    // The tree is the same; every scan keeps a cloud.
    EXPECT_EQ(fitted.GetNodes().size(), full.GetNodes().size());
    for (const ViewDocument::Node& node : fitted.GetNodes()) {
        if (node.kind == EKind::eScan) {
            EXPECT_GT(fitted.GetClouds()[node.scanCloud].count, 0u);
            EXPECT_LT(fitted.GetClouds()[node.scanCloud].count, node.surfels);
        }
    }

    // On a given cell: one point per occupied cell of each cloud (a cell's representative
    // is the mean of its surfels, so it lies in that cell).
    const float cell = 2.0f;
    const ViewDocument coarse(contents, options(ViewDocument::c_defaultMaxPoints, cell));
    EXPECT_TRUE(coarse.IsSubsampled());
    EXPECT_FLOAT_EQ(coarse.GetCellSize(), cell);
    EXPECT_LT(coarse.GetPoints().GetCount(), all / 10);
    for (const ViewDocument::Cloud& cloud : coarse.GetClouds()) {
        std::set<std::tuple<int64_t, int64_t, int64_t>> cells;
        for (uint64_t i = cloud.first; i < cloud.first + cloud.count; ++i) {
            CbVector3f p = pointOf(coarse, i);
            cells.emplace(static_cast<int64_t>(std::floor(p.x / cell)),
                          static_cast<int64_t>(std::floor(p.y / cell)),
                          static_cast<int64_t>(std::floor(p.z / cell)));
        }
        EXPECT_EQ(cells.size(), cloud.count);
    }

    // Too few points for even the coarsest grid, and cells that are no lengths.
    EXPECT_THROW(ViewDocument(contents, options(3)), CbException);
    EXPECT_THROW(ViewDocument(contents, options(1000, -1.0f)), CbException);
    EXPECT_THROW(ViewDocument(contents, options(1000, std::nanf(""))), CbException);
}

TEST_F(ViewDocumentTest, ANodeRestrictsTheViewToItsSubtree) {
    const KaCSessionFile::Contents contents = session();
    const ViewDocument full(contents, options(ViewDocument::c_defaultMaxPoints));
    const ViewDocument::Node* cluster = nullptr;
    for (const auto& node : full.GetNodes()) {
        cluster = !cluster && node.kind == EKind::eCluster ? &node : cluster;
    }
    ASSERT_NE(cluster, nullptr);
    const std::string bare = cluster->id.substr(1, cluster->id.size() - 2);
    const ViewDocument part(contents, options(ViewDocument::c_defaultMaxPoints, 0.0f, bare));
    ASSERT_FALSE(part.GetNodes().empty());
    EXPECT_EQ(part.GetNodes()[0].id, cluster->id);
    EXPECT_EQ(part.GetNodes()[0].kind, EKind::eCluster);
    EXPECT_EQ(part.GetNodes()[0].depth, 1u);
    EXPECT_EQ(part.GetScanCount(), 3u);
    // The same points as in the whole view: still the session frame.
    for (const ViewDocument::Node& node : part.GetNodes()) {
        if (node.kind != EKind::eScan) {
            continue;
        }
        EXPECT_EQ(node.cluster, 0);
        for (const ViewDocument::Node& whole : full.GetNodes()) {
            if (whole.id == node.id) {
                const auto& a = part.GetClouds()[node.scanCloud];
                const auto& b = full.GetClouds()[whole.scanCloud];
                ASSERT_EQ(a.count, b.count);
                EXPECT_LT((pointOf(part, a.first) - pointOf(full, b.first)).Length(), 1e-6f);
            }
        }
    }
    EXPECT_THROW(
        ViewDocument(contents, options(1000, 0.0f, "00000000-0000-0000-0000-000000000000")),
        CbException);
    EXPECT_THROW(ViewDocument(contents, options(1000, 0.0f, "not-an-id")), CbException);
}
