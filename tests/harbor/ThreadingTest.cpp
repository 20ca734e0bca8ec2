#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "platform/harbor/CbEvent.h"
#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/CbSingleton.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbThread.h"
#include "platform/harbor/CbWeakPointer.h"

namespace {

// The weak-pointer race: workers keep upgrading their weak pointers while the owner drops
// the last strong reference. Every other object has a deleter that only marks it dead and
// keeps its memory, so that an upgrade to a dying object is seen as such even without a
// sanitizer; the others are deleted for real, where the sanitizers see any late access.
class Target : public CbReferenceCounted {
public:
    Target() { s_live.fetch_add(1); }
    ~Target() override {
        alive.store(false);
        s_live.fetch_sub(1);
    }
    std::atomic<bool> alive{true};
    std::atomic<int> burials{0};
    static inline std::atomic<int> s_live{0};
};

std::mutex g_graveyardMutex;
std::set<Target*> g_graveyard;

void buryTarget(IReferenceCounted* object) {
    auto* target = dynamic_cast<Target*>(object);
    target->alive.store(false);
    target->burials.fetch_add(1);
    std::lock_guard<std::mutex> lock(g_graveyardMutex);
    g_graveyard.insert(target);
}

TEST(CbWeakPointer, LockRacesTheLastReleaseSafely) {
    constexpr int c_workers = 2;
    constexpr int c_rounds = 20000;
    std::vector<CbWeakPointer<Target>> weak(c_workers);
    std::atomic<bool> releasing{false};  // the owner is about to release: spin hot
    std::atomic<bool> released{false};
    std::atomic<int> deadUpgrades{0};
    std::atomic<int> badCounts{0};
    std::barrier sync(c_workers + 1);

    std::vector<std::thread> workers;
    for (int w = 0; w < c_workers; ++w) {
        workers.emplace_back([&, w] {
            for (int round = 0; round < c_rounds; ++round) {
                sync.arrive_and_wait();  // round set up
                for (;;) {
                    CbSmartPointer<Target> target = weak[w].Lock();
                    if (target.IsNull()) {
                        break;
                    }
                    if (!target->alive.load()) {
                        deadUpgrades.fetch_add(1);
                    }
                    if (target->getReferenceCounter().GetCount() < 1) {
                        badCounts.fetch_add(1);
                    }
                    target.Reset();
                    if (released.load()) {
                        break;  // no new upgrades keep the object alive forever
                    }
                    if (!releasing.load()) {
                        std::this_thread::yield();  // let the owner run on a busy machine
                    }
                }
                sync.arrive_and_wait();  // round done
            }
        });
    }

    std::mt19937 random(7);
    int wrongRounds = 0;
    for (int round = 0; round < c_rounds; ++round) {
        releasing.store(false);
        released.store(false);
        auto* raw = new Target();
        CbSmartPointer<Target> owner(raw);
        const bool buried = round % 2 == 0;
        if (buried) {
            raw->getReferenceCounter().SetDeleter(&buryTarget);
        }
        for (auto& pointer : weak) {
            pointer = owner;
        }
        sync.arrive_and_wait();
        releasing.store(true);
        for (unsigned spin = random() % 1000; spin > 0; --spin) {
            std::atomic_signal_fence(std::memory_order_seq_cst);
        }
        owner.Reset();
        released.store(true);
        sync.arrive_and_wait();
        // Every worker has dropped its reference: the object is dead, once.
        bool dead = buried ? !raw->alive.load() && raw->burials.load() == 1 : true;
        if (!dead || Target::s_live.load() != static_cast<int>(g_graveyard.size())) {
            ++wrongRounds;
        }
        for (auto& pointer : weak) {
            EXPECT_TRUE(pointer.Lock().IsNull());
        }
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(deadUpgrades.load(), 0);
    EXPECT_EQ(badCounts.load(), 0);
    EXPECT_EQ(wrongRounds, 0);
    for (Target* target : g_graveyard) {
        delete target;
    }
    g_graveyard.clear();
    EXPECT_EQ(Target::s_live.load(), 0);
}

std::atomic<int> g_registryConstructions{0};

class Registry : public CbSingleton<Registry> {
    friend class CbSingleton<Registry>;
    Registry() {
        g_registryConstructions.fetch_add(1);
        // Widen the window in which a second creator could slip in.
        for (int i = 0; i < 100; ++i) {
            std::this_thread::yield();
        }
    }
    ~Registry() override = default;
};

TEST(CbSingleton, ConcurrentFirstCallsShareOneInstance) {
    ASSERT_FALSE(Registry::HasInstance());
    const int countBefore = Singleton::GetSingletonCount();
    constexpr int c_threads = 6;
    std::vector<Registry*> seen(c_threads, nullptr);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < c_threads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            seen[i] = &Registry::GetInstance();
        });
    }
    go.store(true);
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(g_registryConstructions.load(), 1);
    EXPECT_TRUE(Registry::HasInstance());
    EXPECT_EQ(std::set<Registry*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(seen[0], &Registry::GetInstance());
    EXPECT_EQ(Singleton::GetSingletonCount(), countBefore + 1);
}

TEST(CbEvent, ManualAndAutoReset) {
    CbEvent manual(true);
    EXPECT_FALSE(manual.Wait(0));
    EXPECT_EQ(CbEvent::WaitForSingleEvent(manual, 20), CbEvent::eWaitTimeout);
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));  // stays set
    EXPECT_EQ(CbEvent::WaitForSingleEvent(manual, 0), CbEvent::eWaitSignaled);
    manual.Reset();
    EXPECT_FALSE(manual.IsSet());
    EXPECT_FALSE(manual.Wait(5));

    CbEvent automatic(false);
    automatic.Set();
    EXPECT_TRUE(automatic.Wait(0));
    EXPECT_FALSE(automatic.IsSet());  // the wait consumed it
    EXPECT_FALSE(automatic.Wait(5));

    // One Set wakes a thread that waits without limit; the wake resets an auto event.
    std::atomic<int> woken{0};
    std::thread waiter([&] {
        if (automatic.Wait(CbEvent::c_infinite)) {
            woken.fetch_add(1);
        }
    });
    automatic.Set();
    waiter.join();
    EXPECT_EQ(woken.load(), 1);
    EXPECT_FALSE(automatic.IsSet());

    // A manual event releases every waiter.
    CbEvent gate(true);
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (gate.Wait(CbEvent::c_infinite)) {
                woken.fetch_add(1);
            }
        });
    }
    gate.Set();
    for (auto& thread : waiters) {
        thread.join();
    }
    EXPECT_EQ(woken.load(), 4);
    EXPECT_TRUE(gate.IsSet());
}

class Worker : public CbThread<Worker> {
public:
    Worker() : CbThread<Worker>("harbor-test-worker-thread") {}
    ~Worker() override { Wait(CbEvent::c_infinite); }
    void Run() {
        proceed.Wait(CbEvent::c_infinite);
        ran.store(true);
    }
    CbEvent proceed{true};
    std::atomic<bool> ran{false};
};

TEST(CbThread, RunsRunAndWaitsForItsEnd) {
    Worker worker;
    EXPECT_TRUE(worker.Wait(0));  // never started: nothing to wait for
    worker.Start();
    EXPECT_FALSE(worker.Wait(10));  // Run() is blocked on `proceed`
    EXPECT_FALSE(worker.ran.load());
    worker.proceed.Set();
    EXPECT_TRUE(worker.Wait(CbEvent::c_infinite));
    EXPECT_TRUE(worker.ran.load());
}

}  // namespace
