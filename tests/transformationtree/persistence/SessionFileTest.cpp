// Session files: the container's checks, the names in error messages, and saving.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

using namespace TreeTestSupport;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Sections = std::vector<std::pair<uint32_t, Bytes>>;

template <class Write>
Bytes record(Write write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    return stream.TakeBuffer();
}

// CRC-32 of `bytes`, continuing `start` (zlib gives 0 for no data: that case is left out).
uint32_t crc(const Bytes& bytes, uint32_t start = 0) {
    return bytes.empty()
               ? start
               : static_cast<uint32_t>(crc32(start, bytes.data(), static_cast<uInt>(bytes.size())));
}

// A container put together field by field: version 2 checksums the header and every section's
// type, length and payload; version 1 only the payloads.
Bytes container(uint32_t version, const Sections& sections) {
    CbStreamWriteBinaryBuffer file;
    file.WriteBuffer("TTREESES", 8);
    file.WriteUInt32(version);
    file.WriteUInt32(static_cast<uint32_t>(sections.size()));
    if (version == 2) {
        file.WriteUInt32(crc(file.GetBuffer()));
    }
    for (const auto& [type, payload] : sections) {
        CbStreamWriteBinaryBuffer fields;
        fields.WriteUInt32(type);
        fields.WriteUInt64(payload.size());
        file.WriteBuffer(fields.GetData(), fields.GetCount());
        file.WriteUInt32(crc(payload, version == 1 ? 0 : crc(fields.GetBuffer())));
        file.WriteBuffer(payload.data(), payload.size());
    }
    return file.TakeBuffer();
}

Bytes properties(const std::vector<std::pair<std::wstring, std::wstring>>& pairs) {
    CbStreamWriteBinaryBuffer payload;
    payload.WriteUInt32(static_cast<uint32_t>(pairs.size()));
    for (const auto& [key, value] : pairs) {
        payload.WriteWideString(key);
        payload.WriteWideString(value);
    }
    return payload.TakeBuffer();
}

Bytes withByte(Bytes bytes, uint8_t value) {
    bytes.push_back(value);
    return bytes;
}

// The message of the CbException that reading `bytes` throws.
std::string readError(const Bytes& bytes, const std::string& name = "damaged.ttree") {
    try {
        KaCSessionFile::ReadFromMemory(bytes, name, false);
    } catch (const CbException& problem) {
        return problem.GetMessage();
    }
    return "no exception";
}

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

TEST_F(SessionFileTest, EveryByteIsCheckedAndSectionsAreReadExactly) {
    NamedTree tree = BuildTree("R(a,b)", m_random);
    const Bytes treeRecord =
        record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    const Bytes values = properties({{L"key", L"value"}});
    const Bytes file = KaCSessionFile::Encode(tree.root, {{L"key", L"value"}});
    ASSERT_EQ(file, container(2, {{1, treeRecord}, {2, values}}));

    for (size_t i = 0; i < file.size(); ++i) {
        Bytes flipped = file;
        flipped[i] ^= static_cast<uint8_t>(1u << (i % 8));
        EXPECT_NE(readError(flipped), "no exception") << "bit flipped in byte " << i;
    }
    const std::pair<Bytes, const char*> refused[] = {
        {withByte(file, 0), "1 byte after the last section"},
        {container(2, {{1, treeRecord}, {2, values}, {1, treeRecord}}), "type 1 appears twice"},
        {container(2, {{9, {}}, {1, treeRecord}, {9, {}}}), "type 9 appears twice"},
        {container(1, {{1, treeRecord}, {2, values}, {2, values}}), "type 2 appears twice"},
        {container(2, {{1, withByte(treeRecord, 0)}}), "1 byte after the tree"},
        {container(2, {{1, treeRecord}, {2, withByte(values, 0)}}), "1 byte after the properties"},
        {container(2, {{1, treeRecord}, {2, properties({{L"k", L"1"}, {L"k", L"2"}})}}),
         "a property key appears twice"},
        {container(2, {{2, values}}), "no tree section"},
    };
    for (const auto& [bytes, message] : refused) {
        EXPECT_NE(readError(bytes).find(message), std::string::npos) << readError(bytes);
    }
    // Unknown section types are skipped, and the first version still reads.
    for (const Bytes& accepted : {container(2, {{7, {1, 2, 3}}, {1, treeRecord}, {2, values}}),
                                  container(1, {{1, treeRecord}, {2, values}})}) {
        KaCSessionFile::Contents contents = KaCSessionFile::ReadFromMemory(accepted, "ok", false);
        EXPECT_EQ(contents.properties, (KaCSessionFile::Properties{{L"key", L"value"}}));
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(tree.root, contents.root), L"");
    }
}

TEST_F(SessionFileTest, EveryErrorNamesTheFile) {
    NamedTree tree = BuildTree("R(a)", m_random);
    const Bytes treeRecord =
        record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    Bytes newerTree = treeRecord;
    newerTree[0] = 9;
    for (uint32_t version : {1u, 2u}) {
        // Truncated anywhere, the header included.
        const Bytes file = container(version, {{1, treeRecord}});
        for (size_t length = 0; length < file.size(); ++length) {
            const std::string message = readError(Bytes(file.begin(), file.begin() + length));
            EXPECT_EQ(message.find("session file 'damaged.ttree': "), 0u) << message;
        }
        // An unknown version of the container or of the tree record.
        for (const Bytes& newer :
             {container(version + 5, {{1, treeRecord}}), container(version, {{1, newerTree}})}) {
            try {
                KaCSessionFile::ReadFromMemory(newer, "newer.ttree", false);
                ADD_FAILURE() << "no exception";
            } catch (const CbExceptionWrongFileVersion& problem) {
                EXPECT_EQ(problem.GetMessage().find("session file 'newer.ttree': "), 0u)
                    << problem.GetMessage();
                EXPECT_NE(problem.GetMessage().find("unknown version"), std::string::npos);
            }
        }
    }
}

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
