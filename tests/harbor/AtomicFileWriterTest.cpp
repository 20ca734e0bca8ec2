#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/harbor/CbAtomicFileWriter.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

}  // namespace

// Both kinds of temporary: the file is replaced whole with the usual permissions, and a save
// that fails, in the content or at the rename, leaves the old file and no temporary.
TEST(AtomicFileWriter, ReplacesWholeOrLeavesTheOldFileAndNoTemporary) {
    const fs::path folder = fs::temp_directory_path() / ("tt-atomic-" + std::to_string(::getpid()));
    fs::create_directories(folder / "taken" / "inside");
    const fs::path path = folder / "file.bin";
    const mode_t mask = ::umask(022);
    using Kind = CbAtomicFileWriter::ETemporary;
    for (Kind kind : {Kind::eUnnamedWherePossible, Kind::eNamed}) {
        SCOPED_TRACE(kind == Kind::eNamed ? "named" : "unnamed");
        const uint64_t written = CbAtomicFileWriter::Write(
            path, [](CbStreamWriteBinary& s) { s.WriteWideString(L"new"); }, kind);
        EXPECT_EQ(written, 10u);
        const std::vector<uint8_t> content = CbStreamReadBinaryFile::ReadAll(path);
        EXPECT_EQ(content, (std::vector<uint8_t>{3, 0, 0, 0, 'n', 0, 'e', 0, 'w', 0}));
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0644u);

        auto failing = [](CbStreamWriteBinary& s) {
            s.WriteUInt32(1);
            CB_THROW(CbException, "content failed");
        };
        EXPECT_THROW(CbAtomicFileWriter::Write(path, failing, kind), CbException);
        EXPECT_EQ(CbStreamReadBinaryFile::ReadAll(path), content);
        EXPECT_THROW(CbAtomicFileWriter::Write(folder / "taken", "x", 1, kind), CbException);
        EXPECT_EQ(entries(folder), (std::set<std::string>{"file.bin", "taken"}));
    }
    ::umask(mask);
    fs::remove_all(folder);
}
