// End-to-end tests of the input ttree refuses (bad poses, points, duplicates, output names,
// sessions holding bad values), of what import keeps and of how info measures a session.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/granary/KaCSurfel.h"
#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/ScanAcquisitionAttribute.h"
#include "tools/ttree/SessionBuilder.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace fs = std::filesystem;

namespace {

constexpr double c_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double c_inf = std::numeric_limits<double>::infinity();

// A pose for row vectors (p × M): turned by `degrees` about z, then moved by (x, y, z).
CbMatrix4Rd turnAboutZ(double degrees, double x = 0.0, double y = 0.0, double z = 0.0) {
    const double a = degrees * std::numbers::pi / 180.0;
    return CbMatrix4Rd(std::array<double, 16>{std::cos(a), std::sin(a), 0, 0, -std::sin(a),
                                              std::cos(a), 0, 0, 0, 0, 1, 0, x, y, z, 1});
}

// The 16 numbers of a pose line, with `digits` significant digits.
std::string numbers(const CbMatrix4Rd& m, int digits = 17) {
    std::ostringstream text;
    text << std::setprecision(digits);
    for (size_t i = 0; i < 16; ++i) {
        text << ' ' << m[i];
    }
    return text.str();
}

CbSmartPointer<KaCSurfelCollectionCCT> cloud(const std::vector<CbVector3f>& points) {
    auto surfels =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (const CbVector3f& point : points) {
        KaCSurfel surfel;
        surfel.position = point;
        surfels->AddSurfel(surfel);
    }
    return surfels;
}

const std::vector<CbVector3f> c_axes{{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                     {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};

// The box `ttree info` prints: minimum x, y, z, then maximum x, y, z (nan when missing).
std::array<double, 6> infoBox(const std::string& output) {
    std::array<double, 6> b{c_nan, c_nan, c_nan, c_nan, c_nan, c_nan};
    std::sscanf(output.c_str() + std::min(output.find("bounding box"), output.size()),
                "bounding box (%lf, %lf, %lf) to (%lf, %lf, %lf)", &b[0], &b[1], &b[2], &b[3],
                &b[4], &b[5]);
    return b;
}

// Writes a session of one scan of `points` placed by `pose`, as a program that checks
// nothing would have written it.
void writeUncheckedSession(const std::string& file, const std::vector<CbVector3f>& points,
                           const CbMatrix4Rd& pose) {
    SessionBuilder builder(SessionBuilder::Options{});
    auto model = CCT_DepthImage::Create(cloud(points), true);
    model->SetFilename(L"scan");
    builder.AddScan(model, pose, false);
    KaCSessionFile::Write(file, builder.GetRoot());
}

class InputValidationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("ttree-input-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string path(const std::string& name) const { return (m_folder / name).string(); }

    // A folder with the scans a.ply, b.ply, ... (the six axis points each) and `poses`.
    std::string scanFolder(const std::string& name, int scans, const std::string& poses) const {
        fs::path folder = m_folder / name;
        fs::create_directories(folder);
        for (int i = 0; i < scans; ++i) {
            std::vector<uint8_t> bytes = PlyFile::Encode(*cloud(c_axes), PlyFile::eAscii);
            std::ofstream(folder / (std::string(1, static_cast<char>('a' + i)) + ".ply"))
                << std::string(bytes.begin(), bytes.end());
        }
        std::ofstream(folder / "poses.txt") << poses;
        return folder.string();
    }

    TtreeRunner::Result import(const std::string& folder, const std::string& flags = "") const {
        return TtreeRunner::Run("import " + folder + " -o " + path("out.ttree") + " " + flags);
    }

    fs::path m_folder;
};

}  // namespace

TEST_F(InputValidationTest, ImportRefusesPosesThatAreNotRigidNamingTheLine) {
    const CbMatrix4Rd pose = turnAboutZ(30, 1, 2, 3);
    CbMatrix4Rd scaled = pose, sheared = pose, mirrored = pose, singular = pose;
    CbMatrix4Rd projective = pose, notANumber = pose, infinite = pose, nearlyScaled = pose;
    for (size_t r = 0; r < 3; ++r) {
        for (size_t c = 0; c < 3; ++c) {
            scaled(r, c) *= 2.0;
            nearlyScaled(r, c) *= 1.0001;
        }
    }
    sheared(1, 0) += 0.5;
    mirrored(2, 2) = -1.0;
    singular(2, 2) = 0.0;
    projective(0, 3) = 0.5;
    notANumber(1, 1) = c_nan;
    infinite(3, 0) = c_inf;
    struct Case {
        CbMatrix4Rd written;
        std::string convention;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {scaled, "row", "scales by 2;"},
             {nearlyScaled, "row", "scales by 1.0001;"},
             {sheared, "row", "not orthonormal (a shear"},
             {mirrored, "row", "is a reflection"},
             {singular, "row", "singular"},
             {projective, "row", "its fourth column is (0.5, 0, 0, 1), not (0, 0, 0, 1)"},
             {projective.Transposed(), "column", "its fourth row is (0.5, 0, 0, 1)"},
             {notANumber, "row", "not finite (nan)"},
             {infinite, "row", "not finite (inf)"},
             {pose.Transposed(), "row",
              "transpose is a rigid transformation: --pose-convention "
              "column is probably meant"},
             {pose, "column", "--pose-convention row is probably meant"}}) {
        const std::string first =
            c.convention == "row" ? numbers(pose) : numbers(pose.Transposed());
        std::string folder = scanFolder(
            "poses", 2, "a.ply" + first + "\n# b follows\nb.ply" + numbers(c.written) + "\n");
        TtreeRunner::Result run = import(folder, "--pose-convention " + c.convention);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("poses.txt', line 3: the pose of 'b.ply' is not a rigid"),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.message << ": " << run.output;
        EXPECT_EQ(run.output.find("probably meant") != std::string::npos,
                  c.message.find("probably meant") != std::string::npos)
            << run.output;
        EXPECT_FALSE(fs::exists(path("out.ttree")));
    }
    EXPECT_NE(TtreeRunner::Run("import --help").output.find("R R^T within 1e-05"),
              std::string::npos);
    // Poses printed with six significant digits are within the tolerance.
    std::string folder = scanFolder(
        "rounded", 2, "a.ply" + numbers(pose, 6) + "\nb.ply" + numbers(turnAboutZ(-70), 6) + "\n");
    TtreeRunner::Result run = import(folder);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(TtreeRunner::Run("verify " + path("out.ttree")).exitCode, 0);
}

TEST_F(InputValidationTest, ImportRefusesScansWithVerticesThatAreNotFinite) {
    // Vertices 2 (position nan), 4 (normal inf) and 5 (beyond the float range) are invalid.
    std::string folder = scanFolder("ascii", 0, "a.ply" + numbers(turnAboutZ(90, 10)) + "\n");
    std::ofstream(fs::path(folder) / "a.ply")
        << "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
           "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
           "end_header\n0 0 0 0 0 1\n1 0 0 0 0 1\nnan 0 0 0 0 1\n2 0 0 0 0 1\n"
           "3 0 0 0 inf 1\n4 0 1e39 0 0 1\n";
    TtreeRunner::Result refused = import(folder);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("a.ply': 3 of 6 vertices have a position or normal that is not "
                                  "finite"),
              std::string::npos)
        << refused.output;
    EXPECT_NE(refused.output.find("the first is vertex 2"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(path("out.ttree")));

    TtreeRunner::Result dropped = import(folder, "--drop-invalid");
    ASSERT_EQ(dropped.exitCode, 0) << dropped.output;
    EXPECT_NE(dropped.output.find("a.ply: left out 3 of 6 vertices"), std::string::npos)
        << dropped.output;
    ASSERT_EQ(TtreeRunner::Run("export " + path("out.ttree") + " -o " + path("a.ply")).exitCode, 0);
    auto exported = PlyFile::Read(path("a.ply"));
    ASSERT_EQ(exported->GetNrSurfels(), 3u);
    for (uint32_t i = 0; i < 3; ++i) {
        CbVector3f expected = turnAboutZ(90, 10).TransformPoint({static_cast<float>(i), 0, 0});
        EXPECT_LT((exported->GetPosition(i) - expected).Length(), 1e-5f) << i;
    }

    // Little-endian data under a big-endian header: vertex 1's x (bytes ff 80 20 41) reads
    // as a nan the wrong way round, the other values as tiny numbers.
    std::string text =
        "ply\nformat binary_big_endian 1.0\nelement vertex 3\nproperty float x\n"
        "property float y\nproperty float z\nend_header\n";
    for (float value :
         {1.0f, 2.0f, 3.0f, std::bit_cast<float>(0x412080ffu), 0.0f, 0.0f, 4.0f, 0.0f, 2.0f}) {
        uint32_t bits = std::bit_cast<uint32_t>(value);
        for (int byte = 0; byte < 4; ++byte) {
            text += static_cast<char>((bits >> (8 * byte)) & 0xffu);
        }
    }
    std::ofstream(fs::path(folder) / "a.ply", std::ios::binary) << text;
    TtreeRunner::Result swapped = import(folder);
    EXPECT_EQ(swapped.exitCode, 1) << swapped.output;
    EXPECT_NE(swapped.output.find("1 of 3 vertices"), std::string::npos) << swapped.output;
    EXPECT_NE(swapped.output.find("the first is vertex 1"), std::string::npos) << swapped.output;
    EXPECT_NE(swapped.output.find("the format line (binary_big_endian) is probably wrong"),
              std::string::npos)
        << swapped.output;
}

TEST_F(InputValidationTest, ImportRefusesDuplicatesAndCommandsRefuseOutputsOfAnotherKind) {
    const std::string a = "a.ply" + numbers(turnAboutZ(10)) + "\n";
    const std::string b = "b.ply" + numbers(turnAboutZ(20)) + "\n";
    std::string folder = scanFolder("twice", 2, a + b + a);
    TtreeRunner::Result refused = import(folder);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("line 3: 'a.ply' is listed again (first on line 1)"),
              std::string::npos)
        << refused.output;
    EXPECT_FALSE(fs::exists(path("out.ttree")));
    TtreeRunner::Result skipped = import(folder, "--skip-duplicates");
    ASSERT_EQ(skipped.exitCode, 0) << skipped.output;
    EXPECT_NE(skipped.output.find("warning: pose file"), std::string::npos) << skipped.output;
    EXPECT_NE(TtreeRunner::Run("info " + path("out.ttree")).output.find(", 2 leaves"),
              std::string::npos);

    struct Case {
        std::string command;
        std::string output;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"import " + folder + " --skip-duplicates", "x.ply", "does not end in .ttree"},
             {"export " + path("out.ttree"), "x.png", "does not end in .ply"},
             {"render " + path("out.ttree"), "x.ttree", "does not end in .png"},
             {"render " + path("out.ttree"), "x", "does not end in .png"}}) {
        TtreeRunner::Result run = TtreeRunner::Run(c.command + " -o " + path(c.output));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(path(c.output))) << c.output;
    }
    EXPECT_EQ(TtreeRunner::Run("export " + path("out.ttree") + " -o " + path("x.PLY")).exitCode, 0);
}

TEST_F(InputValidationTest, InfoBoxIsTheBoxOfTheSurfelsInTheSessionFrame) {
    // The six axis points turned by 45 degrees: the box of the turned scan box would be
    // larger by a factor of sqrt(2) in x and y.
    const CbMatrix4Rd pose = turnAboutZ(45, 10, -5, 2);
    std::string folder = scanFolder("box", 1, "a.ply" + numbers(pose) + "\n");
    ASSERT_EQ(import(folder).exitCode, 0);
    TtreeRunner::Result info = TtreeRunner::Run("info " + path("out.ttree"));
    ASSERT_EQ(info.exitCode, 0) << info.output;
    std::array<double, 6> box = infoBox(info.output);
    std::array<double, 6> expected{c_inf, c_inf, c_inf, -c_inf, -c_inf, -c_inf};
    for (const CbVector3f& point : c_axes) {
        CbVector3f q = pose.TransformPoint(point);
        const double coordinates[3] = {q.x, q.y, q.z};
        for (size_t k = 0; k < 3; ++k) {
            expected[k] = std::min(expected[k], coordinates[k]);
            expected[k + 3] = std::max(expected[k + 3], coordinates[k]);
        }
    }
    for (size_t k = 0; k < 6; ++k) {
        EXPECT_NEAR(box[k], expected[k], 0.006) << k << "\n" << info.output;
    }
}

TEST_F(InputValidationTest, ImportKeepsSequenceNumbersTimeStampsAndSegments) {
    const std::vector<std::string> columns{" 1000 50.0 7", " 1003 50.15 7", " 1010 50.5 2",
                                           " 1011 50.55 2", " 1020 51.0 2"};
    std::string poses;
    for (size_t i = 0; i < columns.size(); ++i) {
        poses += std::string(1, static_cast<char>('a' + i)) + ".ply" +
                 numbers(turnAboutZ(10.0 * i)) + columns[i] + "\n";
    }
    ASSERT_EQ(import(scanFolder("acquired", 5, poses)).exitCode, 0);
    TtreeRunner::Result dump = TtreeRunner::Run("dump " + path("out.ttree"));
    EXPECT_NE(dump.output.find(" Cluster 0\n  Optimizer\n  Collector\n   a[leaf]\n   b[leaf]\n"
                               "  Clipboard\n Cluster 1\n  Optimizer\n  Collector\n   c[leaf]\n"
                               "   d[leaf]\n   e[leaf]\n  Clipboard\n"),
              std::string::npos)
        << dump.output;
    TtreeRunner::Result info = TtreeRunner::Run("info " + path("out.ttree"));
    for (const char* line :
         {"sequence numbers       1000 to 1020", "time stamps            50.000 to 51.000 s",
          "segments               2 (2, 7)", "clusters               2"}) {
        EXPECT_NE(info.output.find(line), std::string::npos) << line << "\n" << info.output;
    }
    KaCSessionFile::Contents session = KaCSessionFile::Read(path("out.ttree"), false);
    size_t i = 0;
    for (auto it = session.root->BeginLeaf(); it; ++it, ++i) {
        ASSERT_LT(i, columns.size());
        uint64_t sequence = 0;
        double time = 0.0;
        uint32_t segment = 0;
        std::istringstream(columns[i]) >> sequence >> time >> segment;
        const KaCTransformationNode& leaf = *it.GetCurrentNode();
        EXPECT_EQ(leaf.GetModel()->GetAcquireSequenceNumber(), sequence);
        auto acquisition = leaf.GetAllAttributes().GetAttribute<ScanAcquisitionAttribute>();
        ASSERT_TRUE(acquisition);
        EXPECT_EQ(acquisition->GetTimeStamp(), time);
        EXPECT_EQ(acquisition->GetSegment(), segment);
    }
    EXPECT_EQ(i, columns.size());
}

TEST_F(InputValidationTest, ImportRefusesAcquisitionColumnsOutOfOrderAndReadsOldPoseFiles) {
    const std::string pose = numbers(turnAboutZ(0));
    struct Case {
        std::vector<std::string> columns;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {{" 5 1.0 0", " 6 1.5 0", ""}, "line 3: lacks the sequence number"},
             {{" 5 1.0 0", " 9 1.5 0", " 7 2.0 0"},
              "line 3: the sequence number 7 does not follow 9"},
             {{" 5 1.0 0", " 6 1.5 0", " 7 1.2 0"}, "line 3: the time stamp 1.2 s is earlier"},
             {{" 5 1.0 0", " 6 1.5 1", " 7 2.0 0"}, "line 3: segment 0 comes back"},
             {{" 5 1.0 0", " 6 1.5 0", " 7 nan 0"}, "line 3: the time stamp is not finite"},
             {{" 5 1.0 0", " 6 1.5 0", " 7 2.0"}, "line 3: 18 values after the file name"},
             {{" 5 1.0 0", " 6 1.5 0", " -7 2.0 0"}, "line 3: the sequence number '-7' is not"}}) {
        std::string poses = "a.ply" + pose + c.columns[0] + "\nb.ply" + pose + c.columns[1] +
                            "\nc.ply" + pose + c.columns[2] + "\n";
        TtreeRunner::Result run = import(scanFolder("order", 3, poses));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.message << "\n" << run.output;
    }
    ASSERT_EQ(
        import(scanFolder("old", 3, "a.ply" + pose + "\nb.ply" + pose + "\nc.ply" + pose)).exitCode,
        0);
    TtreeRunner::Result info = TtreeRunner::Run("info " + path("out.ttree"));
    EXPECT_NE(info.output.find("sequence numbers       1 to 3"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("clusters               1"), std::string::npos) << info.output;
    EXPECT_EQ(info.output.find("time stamps"), std::string::npos) << info.output;
}

TEST_F(InputValidationTest, VerifyRefusesSessionsHoldingBadValues) {
    CbMatrix4Rd scaled = turnAboutZ(30);
    scaled(0, 0) = scaled(1, 1) = scaled(2, 2) = 2.0;
    scaled(0, 1) = scaled(1, 0) = 0.0;
    CbMatrix4Rd notANumber = turnAboutZ(30);
    notANumber(3, 1) = c_nan;
    std::vector<CbVector3f> badPoint = c_axes;
    badPoint[3].y = std::numeric_limits<float>::quiet_NaN();
    writeUncheckedSession(path("scaled.ttree"), c_axes, scaled);
    writeUncheckedSession(path("nan-pose.ttree"), c_axes, notANumber);
    writeUncheckedSession(path("nan-point.ttree"), badPoint, turnAboutZ(30));
    writeUncheckedSession(path("good.ttree"), c_axes, turnAboutZ(30));
    struct Case {
        std::string file;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"scaled.ttree", "('scan') is not rigid: it scales by 2"},
             {"nan-pose.ttree", "('scan') is not rigid: it holds a value that is not finite"},
             {"nan-point.ttree",
              "has 1 of 6 surfels whose position is not finite, the first is "
              "surfel 3"}}) {
        TtreeRunner::Result run = TtreeRunner::Run("verify " + path(c.file));
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find(c.file + ": the "), std::string::npos) << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    EXPECT_EQ(TtreeRunner::Run("verify " + path("good.ttree")).exitCode, 0);
    TtreeRunner::Result info = TtreeRunner::Run("info " + path("nan-point.ttree"));
    EXPECT_NE(info.output.find("surfels not finite     1 (not in the box)"), std::string::npos)
        << info.output;
}

// An import killed at any moment leaves no session or a complete one, and never a temporary
// file: the session is written into an unnamed file that is named only once it is whole.
TEST_F(InputValidationTest, AKilledImportLeavesNoTemporaryBehind) {
    const fs::path folder = m_folder / "large";
    fs::create_directories(folder);
    std::vector<CbVector3f> points;
    for (int i = 0; i < 40000; ++i) {
        points.push_back({static_cast<float>(i % 200), static_cast<float>(i / 200), 0.5f});
    }
    const std::vector<uint8_t> bytes =
        PlyFile::Encode(*cloud(points), PlyFile::eBinaryLittleEndian);
    std::string poses;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "s" + std::to_string(i) + ".ply";
        std::ofstream(folder / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        poses += name + numbers(turnAboutZ(i)) + "\n";
    }
    std::ofstream(folder / "poses.txt") << poses;

    const fs::path output = m_folder / "killed.ttree";
    for (int milliseconds : {20, 60, 120, 250, 500, 1000}) {
        fs::remove(output);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(TTREE_PROGRAM, TTREE_PROGRAM, "import", folder.c_str(), "-o", output.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        for (const fs::directory_entry& entry : fs::directory_iterator(m_folder)) {
            EXPECT_TRUE(entry.path() == folder || entry.path() == output)
                << "left behind after " << milliseconds << " ms: " << entry.path();
        }
        if (fs::exists(output)) {
            EXPECT_EQ(TtreeRunner::Run("verify " + output.string()).exitCode, 0) << milliseconds;
        }
    }
}

// The progress bar is drawn on a terminal only, and not with --quiet: `script` runs the
// program on a pseudo-terminal.
TEST_F(InputValidationTest, ImportShowsProgressOnATerminalOnly) {
    std::string poses;
    for (int i = 0; i < 3; ++i) {
        poses +=
            std::string(1, static_cast<char>('a' + i)) + ".ply" + numbers(turnAboutZ(i)) + "\n";
    }
    const std::string folder = scanFolder("three", 3, poses);
    const std::string command =
        std::string(TTREE_PROGRAM) + " import " + folder + " -o " + path("out.ttree");
    const TtreeRunner::Result terminal =
        TtreeRunner::RunShell("script -qec '" + command + "' /dev/null");
    EXPECT_NE(terminal.output.find("] 3/3 scans"), std::string::npos) << terminal.output;
    EXPECT_NE(terminal.output.find("imported 3 scans"), std::string::npos) << terminal.output;

    const TtreeRunner::Result quiet =
        TtreeRunner::RunShell("script -qec '" + command + " --quiet' /dev/null");
    EXPECT_EQ(quiet.output.find("3/3 scans"), std::string::npos) << quiet.output;
    EXPECT_NE(quiet.output.find("imported 3 scans"), std::string::npos) << quiet.output;

    const TtreeRunner::Result piped = import(folder);
    EXPECT_EQ(piped.output.find('\r'), std::string::npos) << piped.output;
    EXPECT_NE(piped.output.find("imported 3 scans"), std::string::npos) << piped.output;
}
