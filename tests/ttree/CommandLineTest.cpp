#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/ttree/TtreeRunner.h"

namespace fs = std::filesystem;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(CommandLineTest, UsageErrorsVersionHelpAndMessages) {
    TtreeRunner::Result version = TtreeRunner::Run("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, std::string("ttree ") + TTREE_VERSION + "\n");

    TtreeRunner::Result command = TtreeRunner::Run("bogus x");
    EXPECT_EQ(command.exitCode, 2);
    EXPECT_TRUE(contains(command.output, "unknown command 'bogus'")) << command.output;
    TtreeRunner::Result option = TtreeRunner::Run("info --bogus x");
    EXPECT_EQ(option.exitCode, 2);
    EXPECT_TRUE(contains(option.output, "--bogus")) << option.output;
    EXPECT_EQ(TtreeRunner::Run("export x").exitCode, 2);

    TtreeRunner::Result missing = TtreeRunner::Run("info /no/such.ttree");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.output, "/no/such.ttree")) << missing.output;
    EXPECT_FALSE(contains(missing.output, ".cpp:")) << missing.output;
    TtreeRunner::Result verbose = TtreeRunner::Run("info /no/such.ttree --verbose");
    EXPECT_EQ(verbose.exitCode, 1);
    EXPECT_TRUE(contains(verbose.output, ".cpp:")) << verbose.output;

    EXPECT_TRUE(contains(TtreeRunner::Run("--help").output, "millimetres"));
    TtreeRunner::Result exportHelp = TtreeRunner::Run("export --help");
    EXPECT_EQ(exportHelp.exitCode, 0);
    for (const char* shown : {"=session", "=0", "in mm"}) {
        EXPECT_TRUE(contains(exportHelp.output, shown)) << shown << "\n" << exportHelp.output;
    }
    TtreeRunner::Result renderHelp = TtreeRunner::Run("render --help");
    for (const char* shown : {"=800", "=600", "pixels"}) {
        EXPECT_TRUE(contains(renderHelp.output, shown)) << shown << "\n" << renderHelp.output;
    }

    fs::path folder = fs::temp_directory_path() / ("ttree-cli-" + std::to_string(::getpid()));
    TtreeRunner::Result one = TtreeRunner::Run("demo --scans 1 --out " + folder.string());
    EXPECT_TRUE(contains(one.output, "demo: 1 scan of")) << one.output;
    TtreeRunner::Result two = TtreeRunner::Run("demo --scans 2 --out " + folder.string());
    EXPECT_TRUE(contains(two.output, "demo: 2 scans of")) << two.output;
    TtreeRunner::Result exported = TtreeRunner::Run(
        "export " + (folder / "session.ttree").string() + " -o " + (folder / "out.ply").string());
    EXPECT_TRUE(contains(exported.output, " surfels to ")) << exported.output;
    fs::remove_all(folder);
}
