#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/ttree/TtreeRunner.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One demo session for the tests of this file.
class ViewCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = fs::temp_directory_path() / ("ttree-view-cmd-" + std::to_string(::getpid()));
        fs::remove_all(s_folder);
        TtreeRunner::Result demo =
            TtreeRunner::Run("demo --scans 6 --tracking 3 --out " + s_folder.string());
        ASSERT_EQ(demo.exitCode, 0) << demo.output;
    }
    static void TearDownTestSuite() { fs::remove_all(s_folder); }

    static std::string session() { return (s_folder / "session.ttree").string(); }
    static std::string path(const std::string& name) { return (s_folder / name).string(); }

    static fs::path s_folder;
};

fs::path ViewCommandTest::s_folder;

}  // namespace

TEST_F(ViewCommandTest, WritesThePageAndReportsItsSizeAndPoints) {
    TtreeRunner::Result view = TtreeRunner::Run("view " + session() + " -o " + path("all.html"));
    ASSERT_EQ(view.exitCode, 0) << view.output;
    const uint64_t size = fs::file_size(path("all.html"));
    // "wrote FILE (N.N MB): P points (S of 6 scans, M of the inner nodes' models)"
    char megabytes[32];
    std::snprintf(megabytes, sizeof megabytes, "(%.1f MB)", static_cast<double>(size) / 1e6);
    EXPECT_EQ(view.output.rfind("wrote " + path("all.html") + " " + megabytes + ": ", 0), 0u)
        << view.output;
    EXPECT_NE(view.output.find(" of 6 scans, "), std::string::npos) << view.output;
    EXPECT_EQ(view.output.find("subsampled"), std::string::npos) << view.output;
    const std::string page = readText(path("all.html"));
    EXPECT_EQ(page.size(), size);
    EXPECT_NE(page.find("</html>"), std::string::npos);
    EXPECT_NE(page.find("\"subsampled\": false"), std::string::npos);
    EXPECT_EQ(page.find("Subsampled:"), std::string::npos);
    // Self-contained: nothing is loaded from elsewhere.
    EXPECT_EQ(page.find("<script src"), std::string::npos);
    EXPECT_EQ(page.find("<link"), std::string::npos);

    // --quiet: the same page, nothing printed. The letter case of the extension is free.
    TtreeRunner::Result quiet =
        TtreeRunner::Run("--quiet view " + session() + " -o " + path("quiet.HTML"));
    ASSERT_EQ(quiet.exitCode, 0) << quiet.output;
    EXPECT_EQ(quiet.output, "");
    EXPECT_EQ(readText(path("quiet.HTML")), page);

    // Above --max-points the page carries thinned-out clouds, says so, and is smaller.
    TtreeRunner::Result thin =
        TtreeRunner::Run("view " + session() + " --max-points 20000 -o " + path("thin.html"));
    ASSERT_EQ(thin.exitCode, 0) << thin.output;
    EXPECT_NE(thin.output.find("subsampled on a "), std::string::npos) << thin.output;
    const std::string thinPage = readText(path("thin.html"));
    EXPECT_NE(thinPage.find("Subsampled: "), std::string::npos);
    EXPECT_NE(thinPage.find("\"subsampled\": true"), std::string::npos);
    const size_t points = thinPage.find("\"points\": ");
    ASSERT_NE(points, std::string::npos);
    EXPECT_LE(std::stoull(thinPage.substr(points + 10, 12)), 20000u);
    // The libraries are the same, the points far fewer.
    EXPECT_LT(thinPage.size(), page.size() * 6 / 10);

    // A subtree: fewer scans.
    TtreeRunner::Result tree = TtreeRunner::Run("tree " + session());
    const size_t cluster = tree.output.find("  cluster  ");
    ASSERT_NE(cluster, std::string::npos) << tree.output;
    const size_t start = tree.output.rfind('{', cluster);
    const std::string id = tree.output.substr(start, tree.output.find('}', start) + 1 - start);
    TtreeRunner::Result part =
        TtreeRunner::Run("view " + session() + " --node '" + id + "' -o " + path("part.html"));
    ASSERT_EQ(part.exitCode, 0) << part.output;
    EXPECT_NE(part.output.find(" of 3 scans, "), std::string::npos) << part.output;
}

TEST_F(ViewCommandTest, RefusesBadArgumentsAndLeavesTheFilesAlone) {
    const std::string before = readText(session());
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {"-o " + path("view.htm"), 1, "does not end in .html (an HTML page)"},
        {"-o " + path("view.png"), 1, "does not end in .html"},
        {"-o " + session(), 1, "is the input file"},
        {"-o " + path("view.html") + " --max-points 10", 1,
         "--max-points 10 is too small: the view needs at least 1000"},
        {"-o " + path("view.html") + " --max-points many", 2, "--max-points"},
        {"-o " + path("view.html") + " --max-points -5", 2, "--max-points"},
        {"-o " + path("view.html") + " --cell -1", 2, "--cell"},
        {"-o " + path("view.html") + " --node 00000000-0000-0000-0000-000000000000", 1,
         "the session has no node 00000000-0000-0000-0000-000000000000"},
        {"-o " + path("view.html") + " --node nonsense", 1, "'nonsense' is not a node ID"},
    };
    for (const Case& c : cases) {
        TtreeRunner::Result run = TtreeRunner::Run("view " + session() + " " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n"
                                                                 << run.output;
        EXPECT_FALSE(fs::exists(path("view.html"))) << c.arguments;
        EXPECT_FALSE(fs::exists(path("view.htm"))) << c.arguments;
    }
    // A link to the input under an .html name is the input too.
    fs::create_hard_link(session(), path("linked.html"));
    TtreeRunner::Result linked =
        TtreeRunner::Run("view " + session() + " -o " + path("linked.html"));
    EXPECT_EQ(linked.exitCode, 1) << linked.output;
    EXPECT_NE(linked.output.find("is the input file"), std::string::npos) << linked.output;
    EXPECT_EQ(readText(session()), before);
    // A session that is not one: nothing written.
    std::ofstream(path("broken.ttree")) << "not a session";
    TtreeRunner::Result broken =
        TtreeRunner::Run("view " + path("broken.ttree") + " -o " + path("view.html"));
    EXPECT_EQ(broken.exitCode, 1) << broken.output;
    EXPECT_FALSE(fs::exists(path("view.html")));
}
