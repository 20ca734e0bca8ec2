#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/ttree/TtreeRunner.h"

namespace fs = std::filesystem;

namespace {

// The output name of a command, with the extension the command writes.
std::string outputOf(const std::string& command) {
    return command == "export" ? "export.ply" : "render.png";
}

std::vector<char> readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Export and render must leave their targets alone whenever they cannot write a complete
// new file. Each test gets its own folder; small file systems mounted in it are unmounted
// before it goes.
class SafeOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("ttree-safe-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        if (!m_mounted.empty()) {
            ::umount2(m_mounted.c_str(), MNT_DETACH);
        }
        fs::remove_all(m_folder);
    }

    // A session of `scans` demo scans in the test folder.
    fs::path demoSession(int scans) {
        TtreeRunner::Result demo = TtreeRunner::Run("demo --scans " + std::to_string(scans) +
                                                    " --out " + (m_folder / "demo").string());
        EXPECT_EQ(demo.exitCode, 0) << demo.output;
        return m_folder / "demo" / "session.ttree";
    }

    // A tmpfs of `size` (mount's notation) at m_folder/small; empty when it cannot be mounted.
    std::string mountSmall(const char* size) {
        fs::path point = m_folder / "small";
        fs::create_directories(point);
        std::string options = std::string("size=") + size;
        if (::mount("tmpfs", point.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            return std::string("cannot mount a tmpfs (") + std::strerror(errno) +
                   "); this needs root and a system that allows mounting";
        }
        m_mounted = point;
        return std::string();
    }

    bool remountReadOnly() {
        return ::mount(nullptr, m_mounted.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

    fs::path m_folder;
    fs::path m_mounted;
};

}  // namespace

TEST_F(SafeOutputTest, AnOutputThatIsTheInputIsRefusedUnderEveryName) {
    fs::path session = demoSession(2);
    const std::vector<char> before = readBytes(session);
    ASSERT_FALSE(before.empty());
    fs::create_hard_link(session, m_folder / "hard.ttree");
    fs::create_symlink(session, m_folder / "soft.ply");
    const std::string names[] = {
        session.string(),
        (m_folder / "demo" / ".." / "demo" / "session.ttree").string(),
        (m_folder / "hard.ttree").string(),
        (m_folder / "soft.ply").string(),
    };
    for (const std::string& name : names) {
        for (const char* command : {"export", "render"}) {
            TtreeRunner::Result run =
                TtreeRunner::Run(std::string(command) + " " + session.string() + " -o " + name);
            EXPECT_NE(run.exitCode, 0) << command << " " << name;
            EXPECT_NE(run.output.find("is the input file"), std::string::npos) << run.output;
            EXPECT_EQ(readBytes(session), before) << command << " " << name;
        }
    }
    // The hard link is the same file under a name the reader is given, too.
    TtreeRunner::Result linked = TtreeRunner::Run("export " + (m_folder / "hard.ttree").string() +
                                                  " -o " + session.string());
    EXPECT_NE(linked.exitCode, 0) << linked.output;
    EXPECT_EQ(readBytes(session), before);
    EXPECT_TRUE(fs::is_symlink(m_folder / "soft.ply"));

    // Another existing file is replaced as asked.
    std::ofstream(m_folder / "old.ply") << "old";
    TtreeRunner::Result other =
        TtreeRunner::Run("export " + session.string() + " -o " + (m_folder / "old.ply").string());
    EXPECT_EQ(other.exitCode, 0) << other.output;
    EXPECT_GT(fs::file_size(m_folder / "old.ply"), 1000u);
}

TEST_F(SafeOutputTest, AMissingOutputFolderFailsWithItsNameAndCreatesNothing) {
    fs::path session = demoSession(2);
    for (const char* command : {"export", "render"}) {
        fs::path target = m_folder / "no" / "such" / outputOf(command);
        TtreeRunner::Result run = TtreeRunner::Run(std::string(command) + " " + session.string() +
                                                   " -o " + target.string());
        EXPECT_EQ(run.exitCode, 1) << command << ": " << run.output;
        EXPECT_NE(run.output.find(target.string()), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("No such file or directory"), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(m_folder / "no"));
    }
}

TEST_F(SafeOutputTest, AFullFileSystemKeepsTheOldFileAndLeavesNoTemporary) {
    fs::path session = demoSession(12);
    // The full export is larger than the small file system: the test would prove nothing else.
    ASSERT_EQ(
        TtreeRunner::Run("export " + session.string() + " -o " + (m_folder / "full.ply").string())
            .exitCode,
        0);
    ASSERT_GT(fs::file_size(m_folder / "full.ply"), 1024u * 1024u);
    std::string unavailable = mountSmall("1m");
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    fs::path old = m_mounted / "model.ply";
    TtreeRunner::Result thin =
        TtreeRunner::Run("export " + session.string() + " --cell 5 -o " + old.string());
    ASSERT_EQ(thin.exitCode, 0) << thin.output;
    const std::vector<char> before = readBytes(old);
    ASSERT_LT(before.size(), 512u * 1024u);

    TtreeRunner::Result full =
        TtreeRunner::Run("export " + session.string() + " -o " + old.string());
    EXPECT_EQ(full.exitCode, 1) << full.output;
    EXPECT_NE(full.output.find("No space left on device"), std::string::npos) << full.output;
    EXPECT_EQ(readBytes(old), before);
    EXPECT_EQ(namesIn(m_mounted), std::vector<std::string>{"model.ply"});
}

TEST_F(SafeOutputTest, AReadOnlyFolderKeepsTheOldFiles) {
    fs::path session = demoSession(2);
    std::string unavailable = mountSmall("4m");
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    for (const char* command : {"export", "render"}) {
        ASSERT_EQ(TtreeRunner::Run(std::string(command) + " " + session.string() + " -o " +
                                   (m_mounted / outputOf(command)).string())
                      .exitCode,
                  0);
    }
    const std::vector<char> exported = readBytes(m_mounted / "export.ply");
    const std::vector<char> rendered = readBytes(m_mounted / "render.png");
    ASSERT_TRUE(remountReadOnly()) << std::strerror(errno);
    for (const char* command : {"export", "render"}) {
        TtreeRunner::Result run =
            TtreeRunner::Run(std::string(command) + " " + session.string() + " -o " +
                             (m_mounted / outputOf(command)).string());
        EXPECT_EQ(run.exitCode, 1) << command << ": " << run.output;
        EXPECT_NE(run.output.find("Read-only file system"), std::string::npos) << run.output;
    }
    EXPECT_EQ(readBytes(m_mounted / "export.ply"), exported);
    EXPECT_EQ(readBytes(m_mounted / "render.png"), rendered);
    EXPECT_EQ(namesIn(m_mounted), (std::vector<std::string>{"export.ply", "render.png"}));
}
