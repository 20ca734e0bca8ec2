#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "platform/granary/KaCSurfelMemoryPool.h"
#include "platform/granary/KaTGridCellTable.h"
#include "platform/granary/KaTSegmentedArray.h"

namespace {

struct Fibonacci {
    uint64_t operator()(uint64_t key) const { return key * 0x9E3779B97F4A7C15ull; }
};

// Every key in the same slot: only the probing tells keys apart.
struct Constant {
    uint64_t operator()(uint64_t) const { return 0; }
};

template <class Hash>
void expectSameMapping(const KaTGridCellTable<uint64_t, Hash>& table,
                       const std::unordered_map<uint64_t, uint32_t>& expected) {
    ASSERT_EQ(table.Size(), expected.size());
    EXPECT_GE(table.Capacity(), 2 * expected.size());  // at most half the slots in use
    std::map<uint64_t, uint32_t> visited;
    table.ForEach([&](uint64_t key, uint32_t number) {
        EXPECT_TRUE(visited.emplace(key, number).second) << "key " << key << " twice";
    });
    ASSERT_EQ(visited.size(), expected.size());
    for (const auto& [key, number] : expected) {
        EXPECT_EQ(visited.at(key), number) << "key " << key;
    }
}

}  // namespace

TEST(GridCellTable, FindsEveryKeyItStoredAcrossGrowth) {
    std::mt19937_64 random(5);
    KaTGridCellTable<uint64_t, Fibonacci> table;
    std::unordered_map<uint64_t, uint32_t> expected;
    for (int i = 0; i < 50000; ++i) {
        // Neighbouring keys, keys that differ only in high bits, and repeats.
        uint64_t key = 0;
        switch (i % 4) {
            case 0:
                key = random() % 20000;
                break;
            case 1:
                key = (random() % 64) << 42;
                break;
            case 2:
                key = random() & ((uint64_t{1} << 63) - 1);
                break;
            default:
                key = static_cast<uint64_t>(i / 4);
                break;
        }
        const auto next = static_cast<uint32_t>(expected.size());
        const uint32_t number = table.FindOrInsert(key, next);
        const auto [it, inserted] = expected.emplace(key, next);
        EXPECT_EQ(number, it->second) << "key " << key;
        EXPECT_EQ(number == next, inserted) << "key " << key;
    }
    expectSameMapping(table, expected);

    table.Clear();
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_EQ(table.FindOrInsert(3, 77), 77u);  // a new key again
    EXPECT_EQ(table.FindOrInsert(3, 78), 77u);
    table.Release();
    EXPECT_EQ(table.Capacity(), 0u);
    EXPECT_EQ(table.FindOrInsert(3, 5), 5u);
}

TEST(GridCellTable, LookingUpAllKeysOfAStepIsLookingUpEachInTurn) {
    // Steps of up to 300 keys with runs of repeats, keys seen in earlier steps, keys that
    // share their slot, and growth in the middle of a step (the table starts empty).
    std::mt19937_64 random(9);
    KaTGridCellTable<uint64_t, Fibonacci> table;
    KaTGridCellTable<uint64_t, Constant> crowded;
    std::unordered_map<uint64_t, uint32_t> expected;
    uint32_t next = 0;
    uint32_t crowdedNext = 0;
    for (int step = 0; step < 200; ++step) {
        std::vector<uint64_t> keys;
        const size_t count = random() % 300;
        while (keys.size() < count) {
            const uint64_t key = random() % (step < 100 ? 5000 : 100000);
            keys.insert(keys.end(), 1 + random() % 4, key);
        }
        std::vector<uint32_t> numbers(keys.size());
        std::vector<uint8_t> isNew(keys.size());
        next =
            table.FindOrInsertAll(keys.data(), keys.size(), next, 8, numbers.data(), isNew.data());
        for (size_t j = 0; j < keys.size(); ++j) {
            const auto [it, inserted] =
                expected.emplace(keys[j], static_cast<uint32_t>(expected.size()));
            ASSERT_EQ(numbers[j], it->second) << "step " << step << " key " << keys[j];
            ASSERT_EQ(isNew[j] != 0, inserted) << "step " << step << " key " << keys[j];
        }
        ASSERT_EQ(next, expected.size());
        if (step < 20) {
            crowdedNext = crowded.FindOrInsertAll(keys.data(), keys.size(), crowdedNext, 3,
                                                  numbers.data(), isNew.data());
            for (size_t j = 0; j < keys.size(); ++j) {
                ASSERT_EQ(numbers[j], expected.at(keys[j])) << "step " << step;
            }
        }
    }
    expectSameMapping(table, expected);
}

TEST(GridCellTable, KeysThatShareTheirSlotAreKeptApartByProbing) {
    KaTGridCellTable<uint64_t, Constant> table;
    std::unordered_map<uint64_t, uint32_t> expected;
    for (uint32_t round = 0; round < 3; ++round) {
        for (uint64_t key = 0; key < 300; key += 3) {
            const auto next = static_cast<uint32_t>(expected.size());
            const uint32_t number = table.FindOrInsert(key * 1000003, next);
            const auto [it, inserted] = expected.emplace(key * 1000003, next);
            EXPECT_EQ(number, it->second);
            EXPECT_EQ(inserted, round == 0);
        }
    }
    expectSameMapping(table, expected);
}

TEST(GridCellTable, ReservingAheadMeansNoRehashWhileFilling) {
    KaTGridCellTable<uint64_t, Fibonacci> table;
    table.Reserve(1000);
    const size_t capacity = table.Capacity();
    EXPECT_GE(capacity, 2000u);
    for (uint64_t key = 0; key < 1000; ++key) {
        table.FindOrInsert(key << 21, static_cast<uint32_t>(key));
    }
    EXPECT_EQ(table.Capacity(), capacity);
    EXPECT_EQ(table.Size(), 1000u);
    EXPECT_THROW(table.Reserve((size_t{1} << 31) + 1), CbException);
}

TEST(SegmentedArray, ElementsKeepTheirValuesAndAddressesWhileItGrows) {
    KaTSegmentedArray<uint64_t> array;
    array.Resize(10);
    for (size_t i = 0; i < 10; ++i) {
        array[i] = i * 7;
    }
    const uint64_t* third = &array[3];
    const size_t large = 3 * KaTSegmentedArray<uint64_t>::ms_blockSize + 17;
    array.Resize(large);
    EXPECT_EQ(array.Size(), large);
    EXPECT_EQ(&array[3], third);
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(array[i], i * 7);
    }
    for (size_t i = 0; i < large; ++i) {
        array[i] = i ^ 0x5555;
    }
    for (size_t i = 0; i < large; ++i) {
        ASSERT_EQ(array[i], i ^ 0x5555) << i;
    }
    // Clearing keeps the blocks: the same addresses serve again.
    array.Clear();
    EXPECT_EQ(array.Size(), 0u);
    array.Resize(5);
    EXPECT_EQ(&array[3], third);
}

TEST(SegmentedArray, BlocksOnHugePagesAreWholeHugePages) {
    // Elements of a grid cell's size: 16384 of them would fill 3 of the 4 MiB mapped.
    struct alignas(64) Cell {
        double values[24];
    };
    static_assert(sizeof(Cell) == 192);
    EXPECT_EQ(KaTSegmentedArray<Cell>::ms_blockSize, 32768u);
    EXPECT_EQ(
        KaTSegmentedArray<Cell>::ms_blockSize * sizeof(Cell) % KaCSurfelMemoryPool::ms_hugePageSize,
        0u);
    // Sizes that already fill whole huge pages, and small blocks, keep 16384.
    using Line2 = std::array<double, 16>;  // 128 bytes: 2 MiB blocks
    EXPECT_EQ(KaTSegmentedArray<Line2>::ms_blockSize, 16384u);
    EXPECT_EQ(KaTSegmentedArray<double>::ms_blockSize, 16384u);
    // A block maps exactly its elements' bytes.
    KaCSurfelMemoryPool& pool = KaCSurfelMemoryPool::GetInstance();
    const size_t capacity = pool.GetCapacity();
    pool.SetCapacity(0);  // nothing kept: the block is mapped anew
    const uint64_t before = pool.GetStatistics().mappedBytes;
    {
        KaTSegmentedArray<Cell> cells;
        cells.Resize(1);
        cells[0].values[0] = 1.0;
        EXPECT_EQ(pool.GetStatistics().mappedBytes - before, 32768u * sizeof(Cell));
    }
    pool.SetCapacity(capacity);
}

TEST(SegmentedArray, CopiesHoldTheirOwnElements) {
    KaTSegmentedArray<double> array;
    array.Resize(KaTSegmentedArray<double>::ms_blockSize + 3);
    for (size_t i = 0; i < array.Size(); ++i) {
        array[i] = 0.5 * static_cast<double>(i);
    }
    KaTSegmentedArray<double> copy(array);
    ASSERT_EQ(copy.Size(), array.Size());
    EXPECT_NE(&copy[0], &array[0]);
    array[2] = -1.0;
    EXPECT_EQ(copy[2], 1.0);
    EXPECT_EQ(copy[array.Size() - 1], 0.5 * static_cast<double>(array.Size() - 1));
    KaTSegmentedArray<double> assigned;
    assigned = copy;
    EXPECT_EQ(assigned[KaTSegmentedArray<double>::ms_blockSize],
              copy[KaTSegmentedArray<double>::ms_blockSize]);
    KaTSegmentedArray<double> moved(std::move(copy));
    EXPECT_EQ(moved[2], 1.0);
}
