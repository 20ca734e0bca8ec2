#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "platform/granary/KaCSurfelMemoryPool.h"
#include "platform/granary/KaTSurfelBuffer.h"

namespace {

constexpr size_t c_mebibyte = size_t{1} << 20;

bool alignedTo(const void* memory, size_t alignment) {
    return reinterpret_cast<uintptr_t>(memory) % alignment == 0;
}

// Writes a pattern over the whole block and reads it back.
bool usable(void* memory, size_t bytes, uint8_t seed) {
    auto* bytesOf = static_cast<uint8_t*>(memory);
    for (size_t i = 0; i < bytes; i += 997) {
        bytesOf[i] = static_cast<uint8_t>(seed + i);
    }
    bytesOf[bytes - 1] = seed;
    for (size_t i = 0; i < bytes - 1; i += 997) {
        if (bytesOf[i] != static_cast<uint8_t>(seed + i)) {
            return false;
        }
    }
    return bytesOf[bytes - 1] == seed;
}

}  // namespace

TEST(SurfelMemoryPool, SmallBlocksComeFromTheHeapAndAreNotKept) {
    KaCSurfelMemoryPool pool(64 * c_mebibyte);
    EXPECT_EQ(pool.Allocate(0), nullptr);
    pool.Deallocate(nullptr, 0);
    void* small = pool.Allocate(1000);
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(alignedTo(small, KaCSurfelMemoryPool::ms_alignment));
    EXPECT_TRUE(usable(small, 1000, 3));
    pool.Deallocate(small, 1000);
    const auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.mapped, 0u);
    EXPECT_EQ(statistics.mappedBytes, 0u);
    EXPECT_EQ(statistics.cachedBytes, 0u);
}

TEST(SurfelMemoryPool, LargeBlocksLieOnWholeHugePagesAndAreReusedWithoutMapping) {
    KaCSurfelMemoryPool pool(64 * c_mebibyte);
    void* block = pool.Allocate(3 * c_mebibyte);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(alignedTo(block, KaCSurfelMemoryPool::ms_hugePageSize));
    EXPECT_TRUE(usable(block, 3 * c_mebibyte, 5));
    EXPECT_EQ(pool.GetStatistics().mappedBytes, 4 * c_mebibyte);  // rounded to huge pages
    pool.Deallocate(block, 3 * c_mebibyte);
    EXPECT_EQ(pool.GetStatistics().cachedBytes, 4 * c_mebibyte);

    // Any size that rounds to the same pages gets the same memory back.
    void* again = pool.Allocate(4 * c_mebibyte - 100);
    EXPECT_EQ(again, block);
    auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.mapped, 1u);
    EXPECT_EQ(statistics.reused, 1u);
    EXPECT_EQ(statistics.cachedBytes, 0u);
    pool.Deallocate(again, 4 * c_mebibyte - 100);

    // Medium blocks are mapped too, on small pages, and kept apart from huge ones.
    void* medium = pool.Allocate(100 * 1024 + 1);
    ASSERT_NE(medium, nullptr);
    EXPECT_TRUE(alignedTo(medium, KaCSurfelMemoryPool::ms_pageSize));
    EXPECT_TRUE(medium < block || medium >= static_cast<char*>(block) + 4 * c_mebibyte);
    EXPECT_TRUE(usable(medium, 100 * 1024 + 1, 7));
    statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.mapped, 2u);
    EXPECT_EQ(statistics.mappedBytes, 4 * c_mebibyte + 104 * 1024);
    pool.Deallocate(medium, 100 * 1024 + 1);
    EXPECT_EQ(pool.Allocate(26 * 4096), medium);  // the same 26 pages
    pool.Deallocate(medium, 26 * 4096);
}

TEST(SurfelMemoryPool, SplitsKeptBlocksAndJoinsThePiecesAgain) {
    KaCSurfelMemoryPool pool(64 * c_mebibyte);
    char* whole = static_cast<char*>(pool.Allocate(8 * c_mebibyte));
    pool.Deallocate(whole, 8 * c_mebibyte);

    char* first = static_cast<char*>(pool.Allocate(2 * c_mebibyte));
    char* second = static_cast<char*>(pool.Allocate(2 * c_mebibyte));
    EXPECT_EQ(first, whole);
    EXPECT_EQ(second, whole + 2 * c_mebibyte);
    EXPECT_EQ(pool.GetStatistics().cachedBytes, 4 * c_mebibyte);
    EXPECT_TRUE(usable(first, 2 * c_mebibyte, 1));
    EXPECT_TRUE(usable(second, 2 * c_mebibyte, 2));

    pool.Deallocate(second, 2 * c_mebibyte);
    pool.Deallocate(first, 2 * c_mebibyte);
    // Joined into one block again: the whole size is served without a new mapping.
    EXPECT_EQ(pool.Allocate(8 * c_mebibyte), whole);
    const auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.mapped, 1u);
    EXPECT_EQ(statistics.reused, 3u);
    pool.Deallocate(whole, 8 * c_mebibyte);
}

TEST(SurfelMemoryPool, KeepsAtMostItsCapacityReleasingTheOldestFirst) {
    KaCSurfelMemoryPool pool(8 * c_mebibyte);
    // Three neighbouring pieces of one block; the middle one stays in use, so that the
    // other two are kept as separate blocks, the first released older.
    char* whole = static_cast<char*>(pool.Allocate(6 * c_mebibyte));
    pool.Deallocate(whole, 6 * c_mebibyte);
    char* pieces[3];
    for (char*& piece : pieces) {
        piece = static_cast<char*>(pool.Allocate(2 * c_mebibyte));
    }
    ASSERT_EQ(pieces[1], whole + 2 * c_mebibyte);
    pool.Deallocate(pieces[0], 2 * c_mebibyte);
    pool.Deallocate(pieces[2], 2 * c_mebibyte);
    EXPECT_EQ(pool.GetStatistics().cachedBytes, 4 * c_mebibyte);

    pool.SetCapacity(3 * c_mebibyte);
    auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.cachedBytes, 2 * c_mebibyte);
    EXPECT_EQ(statistics.released, 1u);
    EXPECT_EQ(pool.Allocate(2 * c_mebibyte), pieces[2]);  // the newer one was kept
    pool.Deallocate(pieces[2], 2 * c_mebibyte);

    // A block larger than the capacity is never kept; keeping another one that would
    // exceed it gives back the older ones first.
    void* big = pool.Allocate(4 * c_mebibyte);
    pool.Deallocate(big, 4 * c_mebibyte);
    EXPECT_EQ(pool.GetStatistics().cachedBytes, 2 * c_mebibyte);
    pool.Deallocate(pieces[1], 2 * c_mebibyte);
    statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.cachedBytes, 2 * c_mebibyte);
    EXPECT_EQ(statistics.released, 2u);
    EXPECT_EQ(pool.Allocate(2 * c_mebibyte), pieces[1]);
    pool.Deallocate(pieces[1], 2 * c_mebibyte);
    pool.SetCapacity(0);
    statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.cachedBytes, 0u);
    EXPECT_EQ(statistics.mappedBytes, 0u);
}

TEST(SurfelMemoryPool, TrimGivesEveryKeptBlockBack) {
    KaCSurfelMemoryPool pool(64 * c_mebibyte);
    pool.SetHugePages(false);
    void* block = pool.Allocate(5 * c_mebibyte);
    EXPECT_TRUE(usable(block, 5 * c_mebibyte, 9));
    pool.Deallocate(block, 5 * c_mebibyte);
    EXPECT_EQ(pool.GetStatistics().cachedBytes, 6 * c_mebibyte);
    pool.Trim();
    const auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.cachedBytes, 0u);
    EXPECT_EQ(statistics.mappedBytes, 0u);
    EXPECT_EQ(statistics.released, 1u);
}

TEST(SurfelMemoryPool, ServesManyThreadsAtOnce) {
    KaCSurfelMemoryPool pool(24 * c_mebibyte);
    const size_t sizes[] = {200, 100 * 1024, 1536 * 1024, 3 * c_mebibyte};
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<uint32_t>(t));
            for (int round = 0; round < 60; ++round) {
                const size_t bytes = sizes[random() % 4];
                void* memory = pool.Allocate(bytes);
                if (!usable(memory, bytes, static_cast<uint8_t>(t * 50 + round))) {
                    ++failures[t];
                }
                pool.Deallocate(memory, bytes);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    const auto statistics = pool.GetStatistics();
    EXPECT_EQ(statistics.mappedBytes, statistics.cachedBytes);  // nothing is in use
    EXPECT_LE(statistics.cachedBytes, 24 * c_mebibyte);
    EXPECT_GT(statistics.reused, 0u);
}

TEST(SurfelMemoryPool, SurfelBuffersRecycleTheirLargeArrays) {
    const void* first = nullptr;
    {
        KaTSurfelBuffer<float> buffer;
        buffer.ResizeForOverwrite(c_mebibyte);  // 4 MiB
        first = buffer.Data();
        EXPECT_TRUE(alignedTo(first, KaCSurfelMemoryPool::ms_hugePageSize));
    }
    const uint64_t mapped = KaCSurfelMemoryPool::GetInstance().GetStatistics().mapped;
    KaTSurfelBuffer<float> again;
    again.ResizeForOverwrite(c_mebibyte);
    EXPECT_EQ(again.Data(), first);
    EXPECT_EQ(KaCSurfelMemoryPool::GetInstance().GetStatistics().mapped, mapped);
    // Growing keeps the values; Resize fills only the new elements.
    again[7] = 1.5f;
    again.Resize(c_mebibyte + 10, 2.0f);
    EXPECT_EQ(again[7], 1.5f);
    EXPECT_EQ(again[c_mebibyte + 9], 2.0f);
}
