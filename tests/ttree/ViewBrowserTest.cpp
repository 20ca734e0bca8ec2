#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ttree/HeadlessBrowser.h"
#include "tests/ttree/PngPixels.h"
#include "tests/ttree/TtreeRunner.h"

namespace fs = std::filesystem;

namespace {

// Generous: SwiftShader draws on the CPU, which other tests share.
constexpr int c_budgetMs = 20000;
constexpr int c_width = 1200;
constexpr int c_height = 800;
// The page's panel is 360 pixels wide; the 3-D view fills the rest, on this background.
constexpr uint32_t c_viewLeft = 370;
constexpr std::array<uint8_t, 3> c_background = {0x1e, 0x26, 0x32};

// The nodes of a kind ("scan", "cluster") in `ttree tree` output: ID and description.
std::vector<std::pair<std::string, std::string>> nodesOf(const std::string& outline,
                                                         const std::string& kind) {
    std::vector<std::pair<std::string, std::string>> found;
    std::istringstream in(outline);
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find('{');
        const size_t end = line.find("}  ");
        const size_t at = line.find("  " + kind + "  ");
        if (start != std::string::npos && end != std::string::npos && at != std::string::npos) {
            found.emplace_back(line.substr(start, end + 1 - start),
                               line.substr(end + 3, at - end - 3));
        }
    }
    return found;
}

// The text of the page's status element.
std::string statusOf(const std::string& dom) {
    const size_t start = dom.find("<pre id=\"status\">");
    const size_t end = dom.find("</pre>", start);
    if (start == std::string::npos || end == std::string::npos) {
        return "no status element in:\n" + dom.substr(0, 2000);
    }
    return dom.substr(start + 17, end - start - 17);
}

// The value of `key=` in the status text, empty if absent.
std::string valueOf(const std::string& status, const std::string& key) {
    std::istringstream in(status);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return std::string();
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Pixels of the 3-D view that are not its background.
size_t drawnPixels(const PngPixels& image) {
    size_t drawn = 0;
    for (uint32_t y = 0; y < image.GetHeight(); ++y) {
        for (uint32_t x = c_viewLeft; x < image.GetWidth(); ++x) {
            drawn += image.At(x, y) != c_background ? 1 : 0;
        }
    }
    return drawn;
}

size_t differentPixels(const PngPixels& a, const PngPixels& b) {
    size_t different = 0;
    for (uint32_t y = 0; y < a.GetHeight() && y < b.GetHeight(); ++y) {
        for (uint32_t x = c_viewLeft; x < a.GetWidth() && x < b.GetWidth(); ++x) {
            different += a.At(x, y) != b.At(x, y) ? 1 : 0;
        }
    }
    return different;
}

}  // namespace

// The page of `ttree view` in a real browser: it starts without script errors and draws
// its first frame, lists every scan of the session, draws the session, and a link that
// hides a cluster draws less.
TEST(ViewBrowserTest, ThePageDrawsTheSessionListsEveryScanAndHidesANodeFromItsLink) {
    if (!HeadlessBrowser::Available()) {
        GTEST_SKIP() << "chromium is not installed (./run installs it)";
    }
    const fs::path folder =
        fs::temp_directory_path() / ("ttree-view-browser-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    ASSERT_EQ(TtreeRunner::Run("demo --scans 12 --tracking 4 --out " + folder.string()).exitCode,
              0);
    const std::string session = (folder / "session.ttree").string();
    const fs::path page = folder / "view.html";
    TtreeRunner::Result view = TtreeRunner::Run("view " + session + " -o " + page.string());
    ASSERT_EQ(view.exitCode, 0) << view.output;
    TtreeRunner::Result tree = TtreeRunner::Run("tree " + session);
    ASSERT_EQ(tree.exitCode, 0) << tree.output;
    const auto scans = nodesOf(tree.output, "scan");
    const auto clusters = nodesOf(tree.output, "cluster");
    ASSERT_EQ(scans.size(), 12u) << tree.output;
    ASSERT_EQ(clusters.size(), 3u) << tree.output;

    HeadlessBrowser browser;
    const std::string url = "file://" + fs::absolute(page).string();
    TtreeRunner::Result dom = browser.DumpDom(url, c_budgetMs);
    ASSERT_EQ(dom.exitCode, 0) << dom.output.substr(0, 2000);
    const std::string status = statusOf(dom.output);
    EXPECT_EQ(valueOf(status, "status"), "ready") << status;
    EXPECT_EQ(valueOf(status, "errors"), "0") << status;
    EXPECT_GE(std::atoi(valueOf(status, "frames").c_str()), 1) << status;
    EXPECT_NE(dom.output.find("data-ready=\"1\""), std::string::npos);
    EXPECT_EQ(valueOf(status, "scans"), "12") << status;
    EXPECT_EQ(valueOf(status, "visible-clouds"), "12") << status;
    EXPECT_EQ(valueOf(status, "hidden"), "") << status;
    // Every scan has its row, named by its description, and no other row is a scan's.
    EXPECT_EQ(countOf(dom.output, "class=\"node kind-scan\""), scans.size());
    for (const auto& [id, description] : scans) {
        EXPECT_EQ(countOf(dom.output, "data-id=\"" + id + "\""), 1u) << id;
        EXPECT_NE(dom.output.find("<span class=\"name\">" + description + "</span>"),
                  std::string::npos)
            << description;
    }

    const fs::path whole = folder / "whole.png";
    TtreeRunner::Result shot = browser.Screenshot(url, whole, c_width, c_height, c_budgetMs);
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    const PngPixels wholeImage(whole);
    ASSERT_EQ(wholeImage.GetError(), "");
    ASSERT_EQ(wholeImage.GetWidth(), static_cast<uint32_t>(c_width));
    const size_t viewArea = (c_width - c_viewLeft) * c_height;
    const size_t drawn = drawnPixels(wholeImage);
    EXPECT_GT(drawn, viewArea / 20) << "the 3-D view is (nearly) blank";

    // A link hides the first cluster, with or without braces.
    const std::string hidden = clusters[0].first;
    const std::string bare = hidden.substr(1, hidden.size() - 2);
    TtreeRunner::Result hiddenDom = browser.DumpDom(url + "#hide=" + bare, c_budgetMs);
    const std::string hiddenStatus = statusOf(hiddenDom.output);
    EXPECT_EQ(valueOf(hiddenStatus, "status"), "ready") << hiddenStatus;
    EXPECT_EQ(valueOf(hiddenStatus, "hidden"), hidden) << hiddenStatus;
    EXPECT_EQ(valueOf(hiddenStatus, "visible-clouds"), "8") << hiddenStatus;
    EXPECT_LT(std::atoll(valueOf(hiddenStatus, "visible-points").c_str()),
              std::atoll(valueOf(status, "visible-points").c_str()));

    const fs::path part = folder / "part.png";
    shot = browser.Screenshot(url + "#hide=" + hidden, part, c_width, c_height, c_budgetMs);
    ASSERT_EQ(shot.exitCode, 0) << shot.output;
    const PngPixels partImage(part);
    ASSERT_EQ(partImage.GetError(), "");
    EXPECT_LT(drawnPixels(partImage), drawn - viewArea / 50) << "hiding a cluster drew as much";
    EXPECT_GT(differentPixels(wholeImage, partImage), viewArea / 50);
    EXPECT_GT(drawnPixels(partImage), viewArea / 50) << "the other clusters are still drawn";

    // An ID the session does not have is reported, and hides nothing.
    TtreeRunner::Result unknown =
        browser.DumpDom(url + "#hide=00000000-0000-0000-0000-000000000000", c_budgetMs);
    const std::string unknownStatus = statusOf(unknown.output);
    EXPECT_EQ(valueOf(unknownStatus, "unknown-ids"), "00000000-0000-0000-0000-000000000000")
        << unknownStatus;
    EXPECT_EQ(valueOf(unknownStatus, "visible-clouds"), "12") << unknownStatus;

    // The inner nodes' models of the clusters instead of their scans, coloured by quality.
    TtreeRunner::Result models = browser.DumpDom(url + "#models=1&color=quality", c_budgetMs);
    const std::string modelsStatus = statusOf(models.output);
    EXPECT_EQ(valueOf(modelsStatus, "status"), "ready") << modelsStatus;
    EXPECT_EQ(valueOf(modelsStatus, "errors"), "0") << modelsStatus;
    EXPECT_EQ(valueOf(modelsStatus, "visible-clouds"), "3") << modelsStatus;
    EXPECT_NE(models.output.find("quality 0 to 1"), std::string::npos);
    fs::remove_all(folder);
}
