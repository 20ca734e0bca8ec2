// Session files: saving.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"

using namespace TreeTestSupport;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class SessionFileTest : public PersistenceTest {
protected:
    void SetUp() override {
        PersistenceTest::SetUp();
        m_folder = fs::temp_directory_path() /
                   ("tt-session-" + std::to_string(::getpid()) + "-" + std::to_string(m_random()));
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        fs::remove_all(m_folder);
        PersistenceTest::TearDown();
    }

    fs::path m_folder;
};

}  // namespace

TEST_F(SessionFileTest, SavingReplacesTheFileWholeOrReportsTheSystemsReason) {
    // Two threads saving the same path at once both succeed, and the file is one of the two.
    const fs::path path = m_folder / "session.ttree";
    const Inner roots[2] = {BuildRandomTree(m_random, 40), BuildRandomTree(m_random, 30)};
    for (int round = 0; round < 8; ++round) {
        std::latch start(2);
        std::string errors[2];
        auto save = [&](int writer) {
            start.arrive_and_wait();
            try {
                KaCSessionFile::Write(path, roots[writer], {{L"writer", std::to_wstring(writer)}});
            } catch (const CbException& problem) {
                errors[writer] = problem.GetMessage();
            }
        };
        std::thread first(save, 0), second(save, 1);
        first.join();
        second.join();
        EXPECT_EQ(errors[0] + errors[1], "");
        KaCSessionFile::Contents read = KaCSessionFile::Read(path, false);
        const int writer = read.properties[L"writer"] == L"1" ? 1 : 0;
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(roots[writer], read.root), L"");
        EXPECT_EQ(entries(m_folder), std::set<std::string>{"session.ttree"});
    }

    // A save that fails says why, and leaves the folder as it was.
    fs::create_directories(m_folder / "taken.ttree" / "inside");
    const std::pair<fs::path, int> failures[] = {{m_folder / "missing" / "s.ttree", ENOENT},
                                                 {m_folder / "taken.ttree", EISDIR},
                                                 {path / "s.ttree", ENOTDIR}};
    for (const auto& [target, error] : failures) {
        try {
            KaCSessionFile::Write(target, roots[0]);
            ADD_FAILURE() << target << ": no exception";
        } catch (const CbException& problem) {
            EXPECT_NE(problem.GetMessage().find("'" + target.string() + "'"), std::string::npos);
            EXPECT_NE(problem.GetMessage().find(std::strerror(error)), std::string::npos)
                << problem.GetMessage();
        }
    }
    EXPECT_EQ(entries(m_folder), (std::set<std::string>{"session.ttree", "taken.ttree"}));

    // A save killed halfway (here by the file size limit) leaves the old file and nothing else.
    const Bytes before = CbStreamReadBinaryFile::ReadAll(path);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit size{before.size() / 2, before.size() / 2}, core{0, 0};
        ::setrlimit(RLIMIT_CORE, &core);
        ::setrlimit(RLIMIT_FSIZE, &size);
        try {
            KaCSessionFile::Write(path, roots[1]);
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(CbStreamReadBinaryFile::ReadAll(path), before);
    EXPECT_EQ(entries(m_folder), (std::set<std::string>{"session.ttree", "taken.ttree"}));
}
