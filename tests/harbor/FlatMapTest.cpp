#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/harbor/CbFlatMap.h"

namespace {

// Every key lands on the same slot: each lookup walks the whole cluster.
struct SameSlot {
    size_t operator()(uint64_t) const { return 42; }
};

// Counts the values alive, to see that the map destroys what it made.
struct Counted {
    static int alive;
    int value = 0;
    Counted() { ++alive; }
    explicit Counted(int v) : value(v) { ++alive; }
    Counted(Counted&& other) noexcept : value(other.value) { ++alive; }
    Counted(const Counted&) = delete;
    ~Counted() { --alive; }
};
int Counted::alive = 0;

}  // namespace

// Random keys inserted, looked up and missed, with the table growing from empty, agree with
// std::map at every step; references taken after Reserve stay put while filling up to it.
TEST(FlatMapTest, AgreesWithStdMapWhileGrowingAndFindsNoMissingKeys) {
    std::mt19937_64 random(7);
    CbFlatMap<uint64_t, std::string> map;
    std::map<uint64_t, std::string> expected;
    EXPECT_EQ(map.Find(5), nullptr);
    for (int i = 0; i < 20000; ++i) {
        const uint64_t key = random() % 30000;
        const std::string value = std::to_string(i);
        auto [slot, added] = map.TryEmplace(key, value);
        const bool expectedAdded = expected.emplace(key, value).second;
        ASSERT_EQ(added, expectedAdded);
        ASSERT_EQ(*slot, expected[key]);
        ASSERT_LE(map.GetCount() * 2, map.GetCapacity());
    }
    ASSERT_EQ(map.GetCount(), expected.size());
    for (uint64_t key = 0; key < 30000; ++key) {
        const std::string* found = map.Find(key);
        auto it = expected.find(key);
        if (it == expected.end()) {
            EXPECT_EQ(found, nullptr) << key;
        } else {
            ASSERT_NE(found, nullptr) << key;
            EXPECT_EQ(*found, it->second);
        }
    }
    size_t visited = 0;
    map.ForEach([&](uint64_t key, const std::string& value) {
        EXPECT_EQ(expected.at(key), value);
        ++visited;
    });
    EXPECT_EQ(visited, expected.size());

    CbFlatMap<uint64_t, int> reserved;
    reserved.Reserve(1000);
    const size_t capacity = reserved.GetCapacity();
    EXPECT_GE(capacity, 2000u);
    int* first = &reserved[0];
    const uint64_t room = capacity / 2;  // what the table holds before it grows
    for (uint64_t key = 1; key < room; ++key) {
        reserved[key] = static_cast<int>(key);
    }
    EXPECT_EQ(reserved.GetCapacity(), capacity);
    EXPECT_EQ(first, reserved.Find(0));
    reserved[room] = 1;  // beyond: grows, entries move along
    EXPECT_GT(reserved.GetCapacity(), capacity);
    EXPECT_EQ(*reserved.Find(room - 1), static_cast<int>(room - 1));
}

// Keys that all hash alike still map one to one, through growth, and misses end at the
// cluster's end; Clear keeps the table, Release frees it, and both destroy every value.
TEST(FlatMapTest, CollidingKeysClearAndRelease) {
    {
        CbFlatMap<uint64_t, Counted, SameSlot> map;
        for (uint64_t key = 0; key < 300; ++key) {
            EXPECT_TRUE(map.TryEmplace(key * 977, static_cast<int>(key)).second);
            EXPECT_FALSE(map.TryEmplace(key * 977, -1).second);
        }
        EXPECT_EQ(Counted::alive, 300);
        for (uint64_t key = 0; key < 300; ++key) {
            ASSERT_NE(map.Find(key * 977), nullptr);
            EXPECT_EQ(map.Find(key * 977)->value, static_cast<int>(key));
            EXPECT_EQ(map.Find(key * 977 + 1), nullptr);
        }
        const size_t capacity = map.GetCapacity();
        map.Clear();
        EXPECT_EQ(Counted::alive, 0);
        EXPECT_EQ(map.GetCount(), 0u);
        EXPECT_EQ(map.GetCapacity(), capacity);
        EXPECT_EQ(map.Find(0), nullptr);
        map[3].value = 9;
        EXPECT_EQ(map.Find(3)->value, 9);

        CbFlatMap<uint64_t, Counted, SameSlot> moved(std::move(map));
        EXPECT_EQ(moved.Find(3)->value, 9);
        EXPECT_EQ(map.GetCount(), 0u);  // NOLINT: a moved-from map is empty
        moved.Release();
        EXPECT_EQ(moved.GetCapacity(), 0u);
        EXPECT_EQ(Counted::alive, 0);
        moved[4].value = 1;
        EXPECT_EQ(Counted::alive, 1);
    }
    EXPECT_EQ(Counted::alive, 0);
}

// Plain entries are cleared by moving the map's epoch on: over many clears, through
// growth in between, only the entries since the last clear are found and counted.
TEST(FlatMapTest, ClearingPlainEntriesForgetsThemAll) {
    CbFlatMap<uint64_t, uint32_t> map;
    for (uint32_t round = 0; round < 200; ++round) {
        const uint64_t count = 1 + (round * 37) % 500;
        for (uint64_t key = 0; key < count; ++key) {
            EXPECT_TRUE(map.TryEmplace(key * 131 + round, round).second);
        }
        ASSERT_EQ(map.GetCount(), count);
        size_t visited = 0;
        map.ForEach([&](uint64_t key, uint32_t value) {
            EXPECT_EQ(value, round);
            EXPECT_EQ(key % 131, round % 131);
            ++visited;
        });
        EXPECT_EQ(visited, count);
        // The keys of the round before are gone.
        if (round > 0) {
            EXPECT_EQ(map.Find(round - 1), nullptr);
        }
        map.Clear();
        EXPECT_EQ(map.GetCount(), 0u);
        EXPECT_EQ(map.Find(round), nullptr);
    }
}

// Values that own memory survive growth (they are moved) and die with the map.
TEST(FlatMapTest, OwningValuesSurviveGrowth) {
    std::weak_ptr<int> watch;
    {
        CbFlatMap<const void*, std::shared_ptr<int>> map;
        auto first = std::make_shared<int>(5);
        watch = first;
        map[&watch] = std::move(first);
        for (int i = 0; i < 5000; ++i) {
            map[reinterpret_cast<const void*>(static_cast<uintptr_t>(i) * 64 + 4096)] =
                std::make_shared<int>(i);
        }
        ASSERT_NE(map.Find(&watch), nullptr);
        EXPECT_EQ(**map.Find(&watch), 5);
        EXPECT_EQ(**map.Find(reinterpret_cast<const void*>(uintptr_t{4999} * 64 + 4096)), 4999);
        EXPECT_FALSE(watch.expired());
    }
    EXPECT_TRUE(watch.expired());
}
