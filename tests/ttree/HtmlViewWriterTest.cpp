#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/HtmlViewWriter.h"
#include "tools/ttree/ViewPageAssets.h"

namespace fs = std::filesystem;

namespace {

// The content of the element <script ... id="`id`">.
std::string elementText(const std::string& page, const std::string& id) {
    const size_t open = page.find("id=\"" + id + "\">");
    if (open == std::string::npos) {
        return "missing";
    }
    const size_t start = page.find('>', open) + 1;
    return page.substr(start, page.find("</script>", start) - start);
}

std::vector<uint8_t> decodeBase64(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    std::vector<uint8_t> bytes;
    uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        const int v = value(c);
        if (v < 0) {
            break;  // padding
        }
        group = (group << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<uint8_t>((group >> bits) & 255));
        }
    }
    return bytes;
}

template <class T>
std::vector<uint8_t> bytesOf(const std::vector<T>& values) {
    std::vector<uint8_t> bytes(values.size() * sizeof(T));
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace

TEST(HtmlViewWriterTest, TextFromTheSessionCannotEndAScriptOrTheMarkup) {
    EXPECT_EQ(HtmlViewWriter::JsonString("scan_1"), "\"scan_1\"");
    EXPECT_EQ(HtmlViewWriter::JsonString("a\"b\\c\n</script>"),
              "\"a\\\"b\\\\c\\u000a\\u003c/script>\"");
    EXPECT_EQ(HtmlViewWriter::HtmlText("<b>&\"x\"</b>"), "&lt;b&gt;&amp;&quot;x&quot;&lt;/b&gt;");
    // UTF-8 passes unchanged.
    EXPECT_EQ(HtmlViewWriter::JsonString("\xc3\xa9"), "\"\xc3\xa9\"");
}

TEST(HtmlViewWriterTest, ThePageHoldsTheLibrariesTheTreeAndThePointsItWasGiven) {
    const fs::path folder =
        fs::temp_directory_path() / ("ttree-view-html-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    ASSERT_EQ(TtreeRunner::Run("demo --scans 3 --out " + folder.string()).exitCode, 0);
    KaCSessionFile::Contents session = KaCSessionFile::Read(folder / "session.ttree", false);
    // A description that would end the data element if it were not escaped.
    session.root->BeginLeaf().GetCurrentNode()->SetDescription(L"</script><b>\"scan\"");
    const ViewDocument document(session, ViewDocument::Options{});
    const std::string page = HtmlViewWriter::Write(document, "a<b>.ttree");

    // Every part is there once, no placeholder is left, and nothing closes a script early.
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(countOf(page, std::string(ViewPageAssets::ThreeJs.substr(0, 200))), 1u);
    EXPECT_EQ(countOf(page, std::string(ViewPageAssets::OrbitControls.substr(0, 200))), 1u);
    EXPECT_EQ(countOf(page, std::string(ViewPageAssets::PageScript.substr(0, 200))), 1u);
    for (const char* name : {"{{TITLE}}", "{{SESSION}}", "{{POSITIONS}}", "{{NOTICE}}", "{{STYLE}}",
                             "{{PAGE_SCRIPT}}"}) {
        EXPECT_EQ(page.find(name), std::string::npos) << name;
    }
    EXPECT_EQ(countOf(page, "<script"), countOf(page, "</script>"));
    EXPECT_EQ(countOf(page, "</script>"), 9u);  // the error recorder, 5 data, 3 programs
    EXPECT_NE(page.find("<title>a&lt;b&gt;.ttree - ttree view</title>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);

    // The JSON names the points and every node; the arrays decode to the document's bytes.
    const std::string json = elementText(page, "tt-session");
    EXPECT_NE(json.find("\"points\": " + std::to_string(document.GetPoints().GetCount())),
              std::string::npos);
    EXPECT_NE(json.find("\\u003c/script>\\u003cb>\\\"scan\\\""), std::string::npos);
    EXPECT_NE(json.find("\"subsampled\": false"), std::string::npos);
    EXPECT_EQ(countOf(json, "\"kind\": \"scan\""), 3u);
    EXPECT_EQ(countOf(json, "\"id\": \"{"), document.GetNodes().size());
    const ViewPoints& points = document.GetPoints();
    EXPECT_EQ(decodeBase64(elementText(page, "tt-positions")), bytesOf(points.GetPositions()));
    EXPECT_EQ(decodeBase64(elementText(page, "tt-normals")), bytesOf(points.GetNormals()));
    EXPECT_EQ(decodeBase64(elementText(page, "tt-colors")), bytesOf(points.GetColors()));
    EXPECT_EQ(decodeBase64(elementText(page, "tt-qualities")), bytesOf(points.GetQualities()));
    EXPECT_EQ(HtmlViewWriter::SubsamplingNotice(document), "");

    // Thinned out: the page says so, as text and in the JSON.
    ViewDocument::Options thin;
    thin.cellSize = 1.5f;
    const ViewDocument coarse(session, thin);
    const std::string notice = HtmlViewWriter::SubsamplingNotice(coarse);
    EXPECT_NE(
        notice.find("Subsampled: " + std::to_string(coarse.GetPoints().GetCount()) + " points"),
        std::string::npos)
        << notice;
    EXPECT_NE(notice.find("1.5 mm"), std::string::npos) << notice;
    const std::string coarsePage = HtmlViewWriter::Write(coarse, "session.ttree");
    EXPECT_NE(coarsePage.find(">" + notice + "</div>"), std::string::npos);
    EXPECT_NE(coarsePage.find("\"subsampled\": true, \"cellMm\": 1.5"), std::string::npos);
    EXPECT_LT(coarsePage.size(), page.size());
    fs::remove_all(folder);
}
