#include <gtest/gtest.h>

#include <string>

#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbException.h"
#include "tools/ttree/PlyFile.h"

namespace {

CbSmartPointer<KaCSurfelCollectionCCT> read(const std::string& text) {
    return PlyFile::ReadFromMemory(std::vector<uint8_t>(text.begin(), text.end()), "test.ply");
}

std::string refusal(const std::string& text) {
    try {
        read(text);
    } catch (const CbException& error) {
        return error.what();
    }
    return "accepted";
}

}  // namespace

TEST(PlyFile, ReadsTheUsualVariants) {
    // CRLF line ends, comments, double positions, float colours, skipped properties and an
    // empty face element; no trailing line end.
    auto surfels = read(
        "ply\r\nformat ascii 1.0\r\ncomment made by hand\r\nelement vertex 2\r\nproperty double "
        "x\r\n"
        "property double y\r\nproperty double z\r\nproperty float intensity\r\nproperty float "
        "nx\r\n"
        "property float ny\r\nproperty float nz\r\nproperty float red\r\nproperty float green\r\n"
        "property float blue\r\nproperty float confidence\r\nelement face 0\r\n"
        "property list uchar int vertex_indices\r\nend_header\r\n"
        "1.5 -2 3e1 9 0 0 2 1 0.5 0 0.25\r\n0 0 0 9 0 0 0 0 0 0 0.5");
    ASSERT_EQ(surfels->GetNrSurfels(), 2u);
    KaCSurfel first = surfels->GetSurfel(0);
    EXPECT_EQ(first.position, CbVector3f(1.5f, -2.0f, 30.0f));
    EXPECT_NEAR(first.normal.z, 1.0f, 1e-2f);
    EXPECT_EQ(first.color.r, 255);
    EXPECT_EQ(first.color.g, 128);
    EXPECT_EQ(first.quality, 0.25f);
    // A zero normal becomes the default direction.
    EXPECT_NEAR(surfels->GetSurfel(1).normal.z, 1.0f, 1e-2f);

    // Binary files round-trip in both byte orders, and through ASCII within printing precision.
    for (auto encoding :
         {PlyFile::eBinaryLittleEndian, PlyFile::eBinaryBigEndian, PlyFile::eAscii}) {
        auto again = PlyFile::ReadFromMemory(PlyFile::Encode(*surfels, encoding), "again.ply");
        ASSERT_EQ(again->GetNrSurfels(), 2u);
        EXPECT_EQ(again->GetSurfel(0).position, first.position);
        EXPECT_EQ(again->GetSurfel(0).color.g, 128);
        EXPECT_EQ(again->GetSurfel(0).quality, 0.25f);
    }
}

TEST(PlyFile, RefusesWhatItCannotRead) {
    const std::string xyz = "property float x\nproperty float y\nproperty float z\n";
    struct Case {
        std::string text;
        std::string message;
    };
    for (const Case& c : std::vector<Case>{
             {"plyx\n", "not a PLY file"},
             {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz, "does not end"},
             {"ply\nformat ascii 2.0\nelement vertex 1\n" + xyz + "end_header\n0 0 0\n",
              "bad format line"},
             {"ply\nformat binary_middle_endian 1.0\nelement vertex 1\n" + xyz + "end_header\n",
              "unknown format"},
             {"ply\nelement vertex 1\n" + xyz + "end_header\n0 0 0\n", "no format line"},
             {"ply\nformat ascii 1.0\nelement vertex -1\n" + xyz + "end_header\n",
              "bad element count"},
             {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float "
              "y\nend_header\n0 0\n",
              "no x, y and z"},
             {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list uchar float x\n" + xyz +
                  "end_header\n",
              "list property"},
             {"ply\nformat ascii 1.0\nelement vertex 1\nproperty quaternion x\n" + xyz +
                  "end_header\n",
              "bad property line"},
             {"ply\nformat ascii 1.0\nelement vertex 2\n" + xyz + "end_header\n0 0 0\n",
              "short file"},
             {"ply\nformat ascii 1.0\nelement vertex 4000000000\n" + xyz + "end_header\n0 0 0\n",
              "short file"},
             {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "end_header\n0 zero 0\n",
              "bad number"},
             {"ply\nformat binary_big_endian 1.0\nelement vertex 2\n" + xyz + "end_header\n" +
                  std::string(20, '\0'),
              "short file"},
             {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz +
                  "element edge 2\nend_header\n0 0 0\n",
              "unsupported element 'edge'"},
             {"ply\nformat ascii 1.0\nelement vertex 1\n" + xyz + "frobnicate\nend_header\n0 0 0\n",
              "unknown keyword"}}) {
        std::string message = refusal(c.text);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.text << "\n  -> " << message;
        EXPECT_NE(message.find("test.ply"), std::string::npos) << message;
    }
}
