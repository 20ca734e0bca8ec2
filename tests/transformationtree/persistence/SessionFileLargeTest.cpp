#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"

using namespace TreeTestSupport;
namespace fs = std::filesystem;

class SessionFileLargeTest : public TreeFixture {
protected:
    void TearDown() override {
        fs::remove(m_path);
        TreeFixture::TearDown();
    }
    const fs::path m_path =
        fs::temp_directory_path() / ("tt_session_large_" + std::to_string(::getpid()) + ".ttree");
};

// Models of hundreds of thousands of surfels travel through a session file surfel for
// surfel (read straight from the file's bytes into their arrays); the file read equals the
// bytes encoded, reading it twice gives equal trees, and a flipped bit in a surfel array or
// a cut file is refused.
TEST_F(SessionFileLargeTest, LargeSurfelCountsRoundTripAndCorruptionIsRefused) {
    Inner root = m_manager.CreateInnerNode();
    std::vector<CbSmartPointer<KaCModelCCT>> models;
    for (uint32_t i = 0; i < 3; ++i) {
        models.push_back(MakeModel(150000 + 31 * i, i + 1, i));
        auto leaf = m_manager.CreateLeafNode(models.back());
        leaf->SetDescription(L"scan " + std::to_wstring(i));
        m_manager.AppendChild(root, leaf, true);
    }
    const KaCSessionFile::Properties properties = {{L"patient", L"\u00c5se"}, {L"n", L"3"}};
    const uint64_t size = KaCSessionFile::Write(m_path, root, properties);
    ASSERT_GT(size, uint64_t{150000} * 3 * 20);
    const std::vector<uint8_t> bytes = CbStreamReadBinaryFile::ReadAll(m_path);
    EXPECT_EQ(bytes.size(), size);
    EXPECT_EQ(bytes, KaCSessionFile::Encode(root, properties));

    for (int pass = 0; pass < 2; ++pass) {
        KaCSessionFile::Contents contents = KaCSessionFile::Read(m_path, false);
        EXPECT_EQ(contents.properties, properties);
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, contents.root), L"");
        size_t index = 0;
        for (auto it = contents.root->BeginLeaf(); it; ++it, ++index) {
            auto collection = it.GetCurrentNode()->GetModel()->GetSurfelCollection(
                KaCModelCCT::eSurfelCollectionTypeStandard);
            auto original =
                models[index]->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
            ASSERT_EQ(collection->GetNrSurfels(), original->GetNrSurfels());
            for (uint32_t s = 0; s < original->GetNrSurfels(); s += 997) {
                EXPECT_EQ(collection->GetSurfel(s).position, original->GetSurfel(s).position);
                EXPECT_EQ(collection->GetSurfel(s).quality, original->GetSurfel(s).quality);
            }
        }
        EXPECT_EQ(index, models.size());
    }

    std::vector<uint8_t> flipped = bytes;
    flipped[flipped.size() / 2] ^= 0x10;
    EXPECT_THROW(KaCSessionFile::ReadFromMemory(flipped, "flipped", false), CbException);
    {
        std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size() - 1000));
    }
    try {
        KaCSessionFile::Read(m_path, false);
        ADD_FAILURE() << "a cut file was read";
    } catch (const CbException& problem) {
        EXPECT_NE(problem.GetMessage().find("truncated"), std::string::npos)
            << problem.GetMessage();
    }
    fs::remove(m_path);
    EXPECT_THROW(KaCSessionFile::Read(m_path, false), CbException);
}
