#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <random>
#include <string>

#include "platform/granary/KaCSurfel.h"
#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/SyntheticScanner.h"

namespace fs = std::filesystem;

namespace {

using ProgramRun = TtreeRunner::Result;

// Runs the program as a user would, from a shell.
ProgramRun ttree(const std::string& arguments) {
    return TtreeRunner::Run(arguments);
}

class TtreeProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("ttree-test-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    fs::path m_folder;
};

// Every surfel of `scans`, carried by its pose (row vectors: p × M), in scan order.
std::vector<CbVector3f> carried(
    const std::vector<std::pair<CbSmartPointer<KaCSurfelCollectionCCT>, CbMatrix4Rd>>& scans) {
    std::vector<CbVector3f> points;
    for (const auto& [surfels, pose] : scans) {
        for (uint32_t i = 0; i < surfels->GetNrSurfels(); ++i) {
            points.push_back(pose.TransformPoint(surfels->GetPosition(i)));
        }
    }
    return points;
}

void expectSamePoints(const std::vector<CbVector3f>& expected, const KaCSurfelContainer& exported) {
    ASSERT_EQ(exported.GetNrSurfels(), expected.size());
    for (uint32_t i = 0; i < exported.GetNrSurfels(); ++i) {
        CbVector3f d = exported.GetPosition(i) - expected[i];
        ASSERT_LT(d.Length(), 1e-4f) << "surfel " << i;
    }
}

std::string writeBytes(const std::string& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return file;
}

std::vector<uint8_t> readBytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

}  // namespace

TEST_F(TtreeProgramTest, DemoWritesASessionWhoseMergedModelIsTheUnionOfTheScans) {
    ProgramRun demo = ttree("demo --scans 6 --tracking 3 --out " + path("demo"));
    ASSERT_EQ(demo.exitCode, 0) << demo.output;
    EXPECT_NE(demo.output.find("scans 6"), std::string::npos) << demo.output;
    EXPECT_NE(demo.output.find("clusters 2"), std::string::npos) << demo.output;
    for (const char* file : {"session.ttree", "merged.ply", "preview.png"}) {
        EXPECT_TRUE(fs::exists(m_folder / "demo" / file)) << file;
    }
    // The same scanner, in this process, gives the same scans.
    SyntheticScanner scanner(6);
    std::vector<std::pair<CbSmartPointer<KaCSurfelCollectionCCT>, CbMatrix4Rd>> scans;
    for (uint32_t i = 0; i < 6; ++i) {
        SyntheticScanner::Scan scan = scanner.TakeScan(i);
        auto surfels = CbConstCast<KaCSurfelCollectionCCT>(
            scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard));
        scans.emplace_back(surfels, scan.pose);
    }
    ProgramRun exported =
        ttree("export " + path("demo/session.ttree") + " -o " + path("merged.ply"));
    ASSERT_EQ(exported.exitCode, 0) << exported.output;
    expectSamePoints(carried(scans), *PlyFile::Read(path("merged.ply")));

    ProgramRun info = ttree("info " + path("demo/session.ttree"));
    ASSERT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find("6 leaves"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("clusters               2"), std::string::npos) << info.output;
    ProgramRun dump = ttree("dump " + path("demo/session.ttree"));
    ASSERT_EQ(dump.exitCode, 0) << dump.output;
    EXPECT_NE(dump.output.find("\nRoot\n Cluster 0\n  Optimizer\n  Collector\n"), std::string::npos)
        << dump.output;
    EXPECT_NE(dump.output.find("scan_6[leaf]"), std::string::npos);
    ProgramRun verify = ttree("verify " + path("demo/session.ttree"));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    ProgramRun thinned =
        ttree("export " + path("demo/session.ttree") + " -o " + path("thin.ply") + " --cell 1");
    ASSERT_EQ(thinned.exitCode, 0) << thinned.output;
    EXPECT_LT(PlyFile::Read(path("thin.ply"))->GetNrSurfels(), carried(scans).size());
}

TEST_F(TtreeProgramTest, RenderWritesAPreviewOfTheRequestedSize) {
    ASSERT_EQ(ttree("demo --scans 3 --out " + path("demo")).exitCode, 0);
    ProgramRun render = ttree("render " + path("demo/session.ttree") + " -o " + path("view.png") +
                              " --width 200 --height 120");
    ASSERT_EQ(render.exitCode, 0) << render.output;

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path("view.png").c_str()));
    EXPECT_EQ(image.width, 200u);
    EXPECT_EQ(image.height, 120u);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    size_t background = 0;
    for (size_t i = 0; i < pixels.size(); i += 3) {
        background += pixels[i] == 24 && pixels[i + 1] == 26 && pixels[i + 2] == 32;
    }
    EXPECT_GT(background, 0u);
    EXPECT_LT(background, pixels.size() / 3);
}

TEST_F(TtreeProgramTest, ImportReadsEveryEncodingAndPoseConvention) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> coordinate(-5.0f, 5.0f);
    std::vector<std::pair<CbSmartPointer<KaCSurfelCollectionCCT>, CbMatrix4Rd>> scans;
    const PlyFile::EEncoding encodings[] = {PlyFile::eAscii, PlyFile::eBinaryLittleEndian,
                                            PlyFile::eBinaryBigEndian};
    for (int i = 0; i < 3; ++i) {
        auto surfels =
            CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
        for (int k = 0; k < 50; ++k) {
            KaCSurfel surfel;
            surfel.position = {coordinate(random), coordinate(random), coordinate(random)};
            surfel.color = {200, 100, 50};
            surfels->AddSurfel(surfel);
        }
        double angle = 0.4 * (i + 1);
        CbMatrix4Rd pose(std::array<double, 16>{std::cos(angle), std::sin(angle), 0, 0,
                                                -std::sin(angle), std::cos(angle), 0, 0, 0, 0, 1, 0,
                                                10.0 * i, 2, -3, 1});
        scans.emplace_back(surfels, pose);
    }
    for (const std::string& convention : {std::string("row"), std::string("column")}) {
        fs::path folder = m_folder / ("scans-" + convention);
        fs::create_directories(folder);
        std::ofstream poses(folder / "poses.txt");
        poses << "# scan poses, " << convention << " vectors\n";
        for (int i = 0; i < 3; ++i) {
            std::string name = "scan" + std::to_string(i) + ".ply";
            writeBytes((folder / name).string(),
                       PlyFile::Encode(*scans[static_cast<size_t>(i)].first, encodings[i]));
            CbMatrix4Rd written = convention == "row"
                                      ? scans[static_cast<size_t>(i)].second
                                      : scans[static_cast<size_t>(i)].second.Transposed();
            poses << name;
            for (size_t v = 0; v < 16; ++v) {
                poses << ' ' << std::setprecision(17) << written[v];
            }
            poses << "  # scan " << i << "\n";
        }
        poses.close();
        std::string session = path("import-" + convention + ".ttree");
        ProgramRun import = ttree("import " + folder.string() + " -o " + session +
                                  " --max-children 2 --pose-convention " + convention);
        ASSERT_EQ(import.exitCode, 0) << import.output;
        ASSERT_EQ(ttree("export " + session + " -o " + path("out.ply")).exitCode, 0);
        expectSamePoints(carried(scans), *PlyFile::Read(path("out.ply")));
        EXPECT_EQ(ttree("verify " + session).exitCode, 0);
    }
}

TEST_F(TtreeProgramTest, DamagedFilesGiveAClearMessageAndNoCrash) {
    ASSERT_EQ(ttree("demo --scans 2 --out " + path("demo")).exitCode, 0);
    std::vector<uint8_t> session = readBytes(path("demo/session.ttree"));
    struct Damage {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    std::vector<uint8_t> flipped = session;
    flipped[session.size() / 2] ^= 0x40;
    std::vector<uint8_t> version = session;
    version[8] = 7;
    std::vector<Damage> damages{
        {"truncated.ttree",
         std::vector<uint8_t>(session.begin(),
                              session.begin() + static_cast<long>(session.size() / 3)),
         "truncated"},
        {"flipped.ttree", flipped, "checksum"},
        {"version.ttree", version, "version"},
        {"empty.ttree", {}, "not a session file"},
    };
    for (const Damage& damage : damages) {
        std::string file = writeBytes(path(damage.name), damage.bytes);
        for (const char* command : {"verify", "info", "dump"}) {
            ProgramRun run = ttree(std::string(command) + " " + file);
            EXPECT_EQ(run.exitCode, 1) << command << " " << damage.name << ": " << run.output;
            EXPECT_NE(run.output.find(damage.message), std::string::npos)
                << damage.name << ": " << run.output;
            EXPECT_NE(run.output.find(damage.name), std::string::npos) << run.output;
        }
    }
    EXPECT_EQ(ttree("info " + path("missing.ttree")).exitCode, 1);

    // A scan the PLY reader refuses stops the import with the scan's name.
    fs::path folder = m_folder / "bad-scans";
    fs::create_directories(folder);
    std::ofstream(folder / "poses.txt") << "bad.ply 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n";
    std::ofstream(folder / "bad.ply") << "ply\nformat ascii 1.0\nelement vertex 3\nend_header\n";
    ProgramRun scan = ttree("import " + folder.string() + " -o " + path("bad.ttree"));
    EXPECT_EQ(scan.exitCode, 1) << scan.output;
    EXPECT_NE(scan.output.find("bad.ply"), std::string::npos) << scan.output;
    EXPECT_FALSE(fs::exists(path("bad.ttree")));
    std::ofstream(folder / "poses.txt") << "bad.ply 1 0 0\n";
    ProgramRun poses = ttree("import " + folder.string() + " -o " + path("bad.ttree"));
    EXPECT_EQ(poses.exitCode, 1);
    EXPECT_NE(poses.output.find("line 1"), std::string::npos) << poses.output;
}
