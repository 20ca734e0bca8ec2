#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/ttree/TtreeRunner.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

size_t countContaining(const std::vector<std::string>& lines, const std::string& part) {
    size_t count = 0;
    for (const std::string& line : lines) {
        count += line.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

// What python3 makes of a JSON file: the scans' sequence numbers and IDs, one a line, or
// its complaint.
std::string scansInJson(const fs::path& file) {
    std::string command =
        "python3 -c 'import json, sys\n"
        "def walk(n):\n"
        "    if n[\"kind\"] == \"scan\": print(n[\"sequence\"], n[\"id\"], n[\"surfels\"])\n"
        "    for c in n.get(\"children\", []): walk(c)\n"
        "walk(json.load(open(sys.argv[1])))' " +
        file.string() + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t read; pipe && (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, read);
    }
    int status = pipe ? ::pclose(pipe) : -1;
    return status == 0 ? output : "failed: " + output;
}

}  // namespace

TEST(TreeCommandTest, OutlineAndJsonShowEveryScanDownToTheRequestedDepth) {
    fs::path folder = fs::temp_directory_path() / ("ttree-tree-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    ASSERT_EQ(TtreeRunner::Run("demo --scans 6 --tracking 3 --out " + folder.string()).exitCode, 0);
    std::string session = (folder / "session.ttree").string();

    TtreeRunner::Result tree = TtreeRunner::Run("tree " + session);
    ASSERT_EQ(tree.exitCode, 0) << tree.output;
    std::vector<std::string> lines = linesOf(tree.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].find('{'), 0u) << lines[0];
    EXPECT_NE(lines[0].find("  root  "), std::string::npos) << lines[0];
    EXPECT_EQ(countContaining(lines, "  cluster  "), 2u) << tree.output;
    EXPECT_EQ(countContaining(lines, "  scan  "), 6u) << tree.output;
    EXPECT_EQ(countContaining(lines, "cell 0.3 mm"), countContaining(lines, "children, cell"));
    EXPECT_GT(countContaining(lines, "cell 0.3 mm"), 2u) << tree.output;
    for (int scan = 1; scan <= 6; ++scan) {
        std::string name = "scan_" + std::to_string(scan) + "  scan  ";
        EXPECT_EQ(countContaining(lines, name), 1u) << name << "\n" << tree.output;
        EXPECT_EQ(countContaining(lines, "sequence " + std::to_string(scan)), 1u) << tree.output;
    }

    TtreeRunner::Result shallow = TtreeRunner::Run("ls --depth 1 " + session);
    ASSERT_EQ(shallow.exitCode, 0) << shallow.output;
    std::vector<std::string> top = linesOf(shallow.output);
    EXPECT_EQ(countContaining(top, "  scan  "), 0u) << shallow.output;
    EXPECT_EQ(countContaining(top, "    {"), 0u) << shallow.output;
    EXPECT_EQ(top.size(), 1 + countContaining(top, "  {")) << shallow.output;
    EXPECT_NE(top[0].find("root  " + std::to_string(top.size() - 1) + " children"),
              std::string::npos)
        << shallow.output;

    TtreeRunner::Result json =
        TtreeRunner::Run("tree --json " + session + " > " + (folder / "tree.json").string());
    ASSERT_EQ(json.exitCode, 0) << json.output;
    std::vector<std::string> scans = linesOf(scansInJson(folder / "tree.json"));
    ASSERT_EQ(scans.size(), 6u) << scansInJson(folder / "tree.json");
    for (size_t i = 0; i < scans.size(); ++i) {
        EXPECT_EQ(scans[i].rfind(std::to_string(i + 1) + " {", 0), 0u) << scans[i];
        std::string id = scans[i].substr(scans[i].find('{'), 38);
        EXPECT_EQ(countContaining(lines, id), 1u) << id;
    }
    ASSERT_EQ(TtreeRunner::Run("tree --json --depth 1 " + session + " > " +
                               (folder / "top.json").string())
                  .exitCode,
              0);
    EXPECT_EQ(scansInJson(folder / "top.json"), "");
    fs::remove_all(folder);
}
