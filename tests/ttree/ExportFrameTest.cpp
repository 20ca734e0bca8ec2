#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/SyntheticScanner.h"

namespace fs = std::filesystem;

namespace {

// The ID `ttree tree` prints on the line of the node described `description`.
std::string idOf(const std::string& outline, const std::string& description) {
    std::istringstream in(outline);
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find("}  " + description + "  ");
        if (at != std::string::npos) {
            size_t start = line.find('{');
            return line.substr(start, at + 1 - start);
        }
    }
    return std::string();
}

// The largest distance between corresponding surfels of `exported` and `expected` carried by
// `pose`; infinite when the counts differ.
float largestDistance(const KaCSurfelContainer& exported, const KaCSurfelContainer& expected,
                      const CbMatrix4Rd& pose) {
    if (exported.GetNrSurfels() != expected.GetNrSurfels() || exported.GetNrSurfels() == 0) {
        return std::numeric_limits<float>::infinity();
    }
    float largest = 0.0f;
    for (uint32_t i = 0; i < exported.GetNrSurfels(); ++i) {
        CbVector3f d = exported.GetPosition(i) - pose.TransformPoint(expected.GetPosition(i));
        largest = std::max(largest, d.Length());
    }
    return largest;
}

}  // namespace

TEST(ExportFrameTest, ANodeExportsInTheSessionFrameOrInItsOwn) {
    fs::path folder = fs::temp_directory_path() / ("ttree-frame-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    ASSERT_EQ(TtreeRunner::Run("demo --scans 4 --out " + folder.string()).exitCode, 0);
    std::string session = (folder / "session.ttree").string();
    TtreeRunner::Result tree = TtreeRunner::Run("tree " + session);
    ASSERT_EQ(tree.exitCode, 0) << tree.output;
    std::string id = idOf(tree.output, "scan_3");
    ASSERT_EQ(id.size(), 38u) << tree.output;

    // The demo's scanner, in this process and in the same order, gives the same scans.
    SyntheticScanner scanner(4);
    scanner.TakeScan(0);
    scanner.TakeScan(1);
    SyntheticScanner::Scan scan = scanner.TakeScan(2);
    auto surfels = scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
    ASSERT_GT(largestDistance(*surfels, *surfels, scan.pose), 1.0f) << "the pose moves the scan";

    std::string inSession = (folder / "session.ply").string();
    TtreeRunner::Result byDefault =
        TtreeRunner::Run("export " + session + " --node '" + id + "' -o " + inSession);
    ASSERT_EQ(byDefault.exitCode, 0) << byDefault.output;
    EXPECT_LT(largestDistance(*PlyFile::Read(inSession), *surfels, scan.pose), 1e-3f);

    std::string local = (folder / "local.ply").string();
    std::string bare = id.substr(1, 36);
    TtreeRunner::Result own =
        TtreeRunner::Run("export " + session + " --node " + bare + " --frame local -o " + local);
    ASSERT_EQ(own.exitCode, 0) << own.output;
    EXPECT_LT(largestDistance(*PlyFile::Read(local), *surfels, c_matIdentityD), 1e-3f);

    TtreeRunner::Result named =
        TtreeRunner::Run("export " + session + " --node " + bare + " --frame session -o " + local);
    ASSERT_EQ(named.exitCode, 0) << named.output;
    EXPECT_LT(largestDistance(*PlyFile::Read(local), *surfels, scan.pose), 1e-3f);
    EXPECT_NE(TtreeRunner::Run("export " + session + " --frame world -o " + local).exitCode, 0);
    fs::remove_all(folder);
}
