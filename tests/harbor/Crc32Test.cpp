#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <vector>

#include "platform/harbor/CbCrc32.h"

namespace {

uint32_t zlibCrc(const uint8_t* data, size_t size, uint32_t crc) {
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
}

}  // namespace

// The check value of the CRC-32 and zlib's results for every length up to 300 and longer
// ones, at every alignment, continuing random CRCs, by both the folding and the table path.
TEST(Crc32Test, EqualsZlibForAllLengthsAlignmentsAndContinuations) {
    const char* check = "123456789";
    EXPECT_EQ(CbCrc32::Compute(check, 9), 0xCBF43926u);
    EXPECT_EQ(CbCrc32::ComputeTable(check, 9), 0xCBF43926u);
    EXPECT_EQ(CbCrc32::Compute(nullptr, 0, 0x1234u), 0x1234u);

    std::mt19937 random(3);
    std::vector<uint8_t> bytes(300000);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(random());
    }
    for (size_t size = 0; size <= 300; ++size) {
        const size_t offset = size % 17;
        const uint32_t start = size % 3 == 0 ? 0 : static_cast<uint32_t>(random());
        const uint32_t expected = zlibCrc(bytes.data() + offset, size, start);
        ASSERT_EQ(CbCrc32::Compute(bytes.data() + offset, size, start), expected) << size;
        ASSERT_EQ(CbCrc32::ComputeTable(bytes.data() + offset, size, start), expected) << size;
    }
    for (int round = 0; round < 40; ++round) {
        const size_t offset = random() % 64;
        const size_t size = random() % (bytes.size() - 64);
        const uint32_t expected = zlibCrc(bytes.data() + offset, size, 0);
        ASSERT_EQ(CbCrc32::Compute(bytes.data() + offset, size), expected);
        // In two pieces, the second continuing the first.
        const size_t split = size == 0 ? 0 : random() % size;
        const uint32_t head = CbCrc32::Compute(bytes.data() + offset, split);
        ASSERT_EQ(CbCrc32::Compute(bytes.data() + offset + split, size - split, head), expected);
        // Or each on its own and combined afterwards.
        const uint32_t tail = CbCrc32::Compute(bytes.data() + offset + split, size - split);
        ASSERT_EQ(CbCrc32::Combine(head, tail, size - split), expected) << size << " " << split;
    }
    // Combining with empty parts, and zlib's combination of a byte count beyond the data
    // (the shift by 2^40 zero bytes agrees with shifting twice by 2^39).
    const uint32_t whole = CbCrc32::Compute(bytes.data(), 1000);
    EXPECT_EQ(CbCrc32::Combine(whole, 0, 0), whole);
    EXPECT_EQ(CbCrc32::Combine(0, whole, 1000), whole);
    const uint64_t half = uint64_t{1} << 39;
    EXPECT_EQ(CbCrc32::Combine(CbCrc32::Combine(whole, 0, half), 0, half),
              CbCrc32::Combine(whole, 0, 2 * half));
    // All-zero and all-one blocks, whose folds cancel in the simplest ways.
    for (uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
        std::vector<uint8_t> block(4096 + 7, fill);
        EXPECT_EQ(CbCrc32::Compute(block.data(), block.size()),
                  zlibCrc(block.data(), block.size(), 0));
    }
}
