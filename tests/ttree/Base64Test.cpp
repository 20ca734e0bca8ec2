#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/ttree/TtreeRunner.h"
#include "tools/ttree/Base64.h"

namespace {

std::string encoded(const std::string& bytes) {
    std::string out;
    Base64::Append(out, bytes.data(), bytes.size());
    return out;
}

}  // namespace

TEST(Base64Test, EncodesAsTheStandardSaysAndAsPythonDoes) {
    // The examples of RFC 4648, section 10: every padding case.
    EXPECT_EQ(encoded(""), "");
    EXPECT_EQ(encoded("f"), "Zg==");
    EXPECT_EQ(encoded("fo"), "Zm8=");
    EXPECT_EQ(encoded("foo"), "Zm9v");
    EXPECT_EQ(encoded("foob"), "Zm9vYg==");
    EXPECT_EQ(encoded("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encoded("foobar"), "Zm9vYmFy");

    // Appends: what is there stays.
    std::string out = "x=";
    Base64::Append(out, "foo", 3);
    EXPECT_EQ(out, "x=Zm9v");
    EXPECT_EQ(Base64::EncodedSize(0), 0u);
    EXPECT_EQ(Base64::EncodedSize(4), 8u);

    // Every byte value, in and after every position of a group: the same as Python's.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256 * 3 + 1; ++i) {
        bytes.push_back(static_cast<uint8_t>((i * 7 + i / 256) & 255));
    }
    std::string mine;
    Base64::Append(mine, bytes.data(), bytes.size());
    TtreeRunner::Result python = TtreeRunner::RunShell(
        "python3 -c 'import base64; print(base64.b64encode(bytes((i * 7 + i // 256) & 255 for i "
        "in range(256 * 3 + 1))).decode(), end=\"\")'");
    ASSERT_EQ(python.exitCode, 0) << python.output;
    EXPECT_EQ(mine, python.output);
    EXPECT_EQ(mine.size(), Base64::EncodedSize(bytes.size()));
}
