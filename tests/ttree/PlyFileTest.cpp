#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/granary/KaCSurfel.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"
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

namespace {

// A binary PLY file of `values` (one row a vertex, one value a property, stored as the
// property's type) in the given byte order.
std::vector<uint8_t> binaryFile(const std::vector<std::pair<std::string, std::string>>& properties,
                                const std::vector<std::vector<double>>& values, bool bigEndian) {
    std::string header = std::string("ply\nformat ") +
                         (bigEndian ? "binary_big_endian" : "binary_little_endian") +
                         " 1.0\nelement vertex " + std::to_string(values.size()) + "\n";
    for (const auto& [type, name] : properties) {
        header += "property " + type + " " + name + "\n";
    }
    header += "end_header\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    auto put = [&](auto value) {
        uint8_t raw[sizeof(value)];
        std::memcpy(raw, &value, sizeof(value));
        if (bigEndian) {
            std::reverse(raw, raw + sizeof(value));
        }
        bytes.insert(bytes.end(), raw, raw + sizeof(value));
    };
    for (const std::vector<double>& row : values) {
        for (size_t p = 0; p < properties.size(); ++p) {
            const std::string& type = properties[p].first;
            const double v = row[p];
            if (type == "char") {
                put(static_cast<int8_t>(v));
            } else if (type == "uchar") {
                put(static_cast<uint8_t>(v));
            } else if (type == "short") {
                put(static_cast<int16_t>(v));
            } else if (type == "ushort") {
                put(static_cast<uint16_t>(v));
            } else if (type == "int") {
                put(static_cast<int32_t>(v));
            } else if (type == "uint") {
                put(static_cast<uint32_t>(v));
            } else if (type == "float") {
                put(static_cast<float>(v));
            } else {
                put(v);
            }
        }
    }
    return bytes;
}

void expectSameSurfels(const KaCSurfelCollectionCCT& a, const KaCSurfelCollectionCCT& b) {
    ASSERT_EQ(a.GetNrSurfels(), b.GetNrSurfels());
    for (uint32_t i = 0; i < a.GetNrSurfels(); ++i) {
        const KaCSurfel x = a.GetSurfel(i), y = b.GetSurfel(i);
        ASSERT_EQ(x.position, y.position) << i;
        ASSERT_EQ(KaCQuantizedNormal::Encode(x.normal), KaCQuantizedNormal::Encode(y.normal)) << i;
        ASSERT_EQ(x.color, y.color) << i;
        ASSERT_EQ(x.quality, y.quality) << i;
    }
}

}  // namespace

// Every scalar type in both byte orders, over more vertices than the reader decodes at a
// time: the values arrive converted as documented, the same in both orders and in ASCII,
// in file order, and the collection holds exactly the vertices read.
TEST(PlyFile, ReadsEveryScalarTypeInBothByteOrders) {
    const std::vector<std::pair<std::string, std::string>> properties = {
        {"short", "x"},      {"int", "y"},      {"double", "z"},      {"uchar", "skipped"},
        {"float", "nx"},     {"char", "ny"},    {"uint", "nz"},       {"uchar", "red"},
        {"ushort", "green"}, {"uchar", "blue"}, {"double", "quality"}};
    std::vector<std::vector<double>> values;
    for (int i = 0; i < 700; ++i) {
        values.push_back({static_cast<double>(i - 350), -70000.0 * i, 0.125 * i, 7.0,
                          i % 5 == 0 ? 0.0 : 0.5, static_cast<double>(i % 3 - 1),
                          static_cast<double>(i % 4), static_cast<double>(i % 256), 300.0 + i, 17.0,
                          1.0 / (i + 1)});
    }
    std::string ascii = "ply\nformat ascii 1.0\nelement vertex 700\n";
    for (const auto& [type, name] : properties) {
        ascii += "property " + type + " " + name + "\n";
    }
    ascii += "end_header\n";
    for (const auto& row : values) {
        std::ostringstream line;
        line.precision(17);
        for (double v : row) {
            line << v << ' ';
        }
        ascii += line.str() + "\n";
    }
    auto little = PlyFile::ReadFromMemory(binaryFile(properties, values, false), "little.ply");
    auto big = PlyFile::ReadFromMemory(binaryFile(properties, values, true), "big.ply");
    auto text = read(ascii);
    ASSERT_EQ(little->GetNrSurfels(), 700u);
    expectSameSurfels(*little, *big);
    expectSameSurfels(*little, *text);
    for (uint32_t i : {0u, 1u, 255u, 256u, 257u, 511u, 512u, 699u}) {
        const KaCSurfel s = little->GetSurfel(i);
        EXPECT_EQ(s.position, CbVector3f(static_cast<float>(static_cast<int>(i) - 350),
                                         -70000.0f * static_cast<float>(i), 0.125f * i))
            << i;
        const CbVector3f normal(i % 5 == 0 ? 0.0f : 0.5f, static_cast<float>(int(i % 3) - 1),
                                static_cast<float>(i % 4));
        const CbVector3f unit = normal.Length() > 0 ? normal.Normalized() : CbVector3f(0, 0, 1);
        EXPECT_EQ(KaCQuantizedNormal::Encode(s.normal), KaCQuantizedNormal::Encode(unit)) << i;
        // Integer colours are clamped to a byte, not scaled.
        EXPECT_EQ(s.color, KaCCompressedColor(static_cast<uint8_t>(i % 256), 255, 17)) << i;
        EXPECT_EQ(s.quality, static_cast<float>(1.0 / (i + 1))) << i;
        EXPECT_EQ(s.curvature, 0);
        EXPECT_EQ(s.tissueType, 0);
        EXPECT_FALSE(s.boundary);
    }
    // The box holds the positions read; the arrays hold the 700 surfels and no more.
    EXPECT_EQ(little->GetBoundingBox().GetMin(), CbVector3f(-350.0f, -70000.0f * 699, 0.0f));
    EXPECT_EQ(little->GetBoundingBox().GetMax(), CbVector3f(349.0f, 0.0f, 0.125f * 699));
    EXPECT_EQ(little->GetUsedDynamicMemory(), 700u * (12 + 2 + 1 + 1 + 3 + 1 + 4));
}

// Invalid vertices on both sides of the reader's chunk boundaries: refused with their number
// and the first, or left out with every other vertex kept in order; a binary file that is
// valid in the other byte order is named as such.
TEST(PlyFile, LeavesOutOrRefusesInvalidVerticesAcrossChunks) {
    const std::vector<std::pair<std::string, std::string>> properties = {
        {"float", "x"},  {"float", "y"},  {"float", "z"},
        {"float", "nx"}, {"float", "ny"}, {"float", "nz"}};
    const std::vector<int> invalid = {255, 256, 511, 699};
    // About 1.0039; its bytes reversed make a NaN, so that the file is no better in the other
    // byte order.
    const double y = std::bit_cast<float>(uint32_t{0x3F8080FF});
    std::vector<std::vector<double>> values;
    for (int i = 0; i < 700; ++i) {
        values.push_back({static_cast<double>(i), y, 2.0, 0.0, 0.0, 1.0});
    }
    values[255][0] = std::numeric_limits<double>::quiet_NaN();
    values[256][4] = std::numeric_limits<double>::infinity();
    values[511][2] = 1e39;  // beyond the float range
    values[699][5] = -std::numeric_limits<double>::infinity();
    const std::vector<uint8_t> bytes = binaryFile(properties, values, false);
    try {
        PlyFile::ReadFromMemory(bytes, "holes.ply");
        ADD_FAILURE() << "accepted";
    } catch (const CbException& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("4 of 700 vertices"), std::string::npos) << message;
        EXPECT_NE(message.find("the first is vertex 255"), std::string::npos) << message;
        EXPECT_EQ(message.find("other byte order"), std::string::npos) << message;
    }
    uint64_t dropped = 0;
    auto kept = PlyFile::ReadFromMemory(bytes, "holes.ply", PlyFile::eDropInvalid, &dropped);
    EXPECT_EQ(dropped, invalid.size());
    ASSERT_EQ(kept->GetNrSurfels(), 700u - invalid.size());
    uint32_t k = 0;
    for (int i = 0; i < 700; ++i) {
        if (std::find(invalid.begin(), invalid.end(), i) == invalid.end()) {
            ASSERT_EQ(kept->GetPosition(k++).x, static_cast<float>(i));
        }
    }
    EXPECT_EQ(kept->GetBoundingBox().GetMax().x, 698.0f);

    // Big-endian data under a little-endian format line: invalid vertices, but in the other
    // byte order the file is fine.
    std::vector<std::vector<double>> plain(300, std::vector<double>{y, -2e5, 1e-3, 0, 1, 0});
    std::vector<uint8_t> wrongOrder = binaryFile(properties, plain, true);
    const std::string big = "binary_big_endian", little = "binary_little_endian";
    auto format = std::search(wrongOrder.begin(), wrongOrder.end(), big.begin(), big.end());
    wrongOrder.erase(format, format + big.size());
    wrongOrder.insert(format, little.begin(), little.end());
    const std::string message = refusal(std::string(wrongOrder.begin(), wrongOrder.end()));
    EXPECT_NE(message.find("(binary_little_endian) is probably wrong"), std::string::npos)
        << message;
}

// Counts that the file cannot hold are refused before anything is allocated for them, in
// every encoding; a truncated binary file names what was announced and what is left.
TEST(PlyFile, RefusesCountsTheFileCannotHold) {
    const std::vector<std::pair<std::string, std::string>> bytesOnly = {
        {"uchar", "x"}, {"uchar", "y"}, {"uchar", "z"}};
    std::vector<std::vector<double>> values(10, std::vector<double>{1, 2, 3});
    std::vector<uint8_t> full = binaryFile(bytesOnly, values, false);
    EXPECT_EQ(PlyFile::ReadFromMemory(full, "full.ply")->GetNrSurfels(), 10u);
    std::vector<uint8_t> cut(full.begin(), full.end() - 1);
    try {
        PlyFile::ReadFromMemory(cut, "cut.ply");
        ADD_FAILURE() << "accepted";
    } catch (const CbException& error) {
        EXPECT_NE(std::string(error.what()).find("10 vertices of 3 bytes announced, 29 bytes left"),
                  std::string::npos)
            << error.what();
    }
    // The largest 32-bit count and one beyond it, over a few bytes.
    for (const char* count : {"4294967295", "4294967296", "18446744073709551615"}) {
        for (const char* format : {"ascii", "binary_big_endian"}) {
            const std::string text = std::string("ply\nformat ") + format +
                                     " 1.0\nelement vertex " + count +
                                     "\nproperty uchar x\nproperty uchar y\nproperty uchar "
                                     "z\nend_header\n1 2 3\n";
            const std::string message = refusal(text);
            EXPECT_TRUE(message.find("short file") != std::string::npos ||
                        message.find("too many vertices") != std::string::npos)
                << format << " " << count << ": " << message;
        }
    }
}
