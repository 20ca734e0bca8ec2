#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/lattice/CyDataHandleLockOnly.h"
#include "platform/lattice/CyDataManager.h"

namespace {

using Read = CyDataHandleLockOnly<0>;
using Write = CyDataHandleLockOnly<1>;

// A data manager holding root -> a -> b and root -> c.
struct Store {
    CyDataManager manager;
    CbSmartPointer<CyNode> a = CbMakeShared<CyNode>();
    CbSmartPointer<CyNode> b = CbMakeShared<CyNode>();
    CbSmartPointer<CyNode> c = CbMakeShared<CyNode>();

    Store() {
        EXPECT_TRUE(manager.InsertNode(manager.GetRootNode(), a));
        EXPECT_TRUE(manager.InsertNode(a, b));
        EXPECT_TRUE(manager.InsertNode(manager.GetRootNode(), c));
    }
    ~Store() {
        // Handles and grants of the test are gone by now.
        EXPECT_EQ(manager.GetNrRequests(), 0u);
    }
};

CyDataManager::ELockStatus lock(CyDataManager& manager, unsigned int milliseconds) {
    CyDataManager::ELockStatus status = CyDataManager::eLockGeneralError;
    bool granted = manager.TryLockAndWait(milliseconds, status);
    EXPECT_EQ(granted, status == CyDataManager::eLockGranted);
    return status;
}

// Runs `body` on another thread and waits for it.
template <class F>
void onOtherThread(F body) {
    std::thread thread(body);
    thread.join();
}

}  // namespace

TEST(CyDataManager, LockStatusesOfOneThread) {
    Store store;
    CyDataManager& m = store.manager;
    EXPECT_EQ(lock(m, 0), CyDataManager::eLockNoRequests);

    Write writeA(m, store.a);
    EXPECT_FALSE(writeA.IsGranted());
    EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);
    EXPECT_TRUE(writeA.IsGranted());
    EXPECT_TRUE(m.HoldsAccess(*store.b, CyDataHandleBase::eWrite));
    EXPECT_FALSE(m.HoldsAccess(*store.c, CyDataHandleBase::eRead));

    // Covered by the write access to a: granted at once, read or write, and a grant call
    // that finds nothing else to grant succeeds.
    Read readB(m, store.b);
    Write writeB(m, store.b);
    EXPECT_TRUE(readB.IsGranted());
    EXPECT_TRUE(writeB.IsGranted());
    EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);

    // Not covered while access is held: refused rather than risking a deadlock.
    {
        Read readC(m, store.c);
        EXPECT_FALSE(readC.IsGranted());
        EXPECT_EQ(lock(m, 0), CyDataManager::eLockUnreleased);
        EXPECT_FALSE(readC.IsGranted());
    }

    // A node that left the manager before its request was granted.
    writeA = Write();
    readB = Read();
    writeB = Write();
    auto loose = CbMakeShared<CyNode>();
    Read readLoose(m, loose);
    EXPECT_EQ(lock(m, 0), CyDataManager::eLockInvalidNode);
    EXPECT_FALSE(Read().IsValid());
    EXPECT_TRUE(readLoose.IsValid());
}

TEST(CyDataManager, HandlesShareAndReleaseTheirRequest) {
    Store store;
    CyDataManager& m = store.manager;
    {
        Write first(m, store.a);
        Write copy = first;
        EXPECT_EQ(m.GetNrRequests(), 1u);
        EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);
        EXPECT_TRUE(copy.IsGranted());
        // Assignment replaces the held request: a's access goes with the last holder.
        first = Write(m, store.c);
        EXPECT_EQ(m.GetNrRequests(), 2u);
        copy = Write();
        EXPECT_EQ(m.GetNrRequests(), 1u);
        EXPECT_FALSE(m.HoldsAccess(*store.a, CyDataHandleBase::eRead));
        EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);
        EXPECT_TRUE(first.IsGranted());
    }
    EXPECT_EQ(m.GetNrRequests(), 0u);
}

TEST(CyDataManager, AccessOfOtherThreads) {
    Store store;
    CyDataManager& m = store.manager;
    Write writeA(m, store.a);
    ASSERT_EQ(lock(m, 0), CyDataManager::eLockGranted);

    onOtherThread([&] {
        // Below, above and at a: all conflict with the write access to a.
        for (const CbSmartPointer<CyNode>& node : {store.b, m.GetRootNode(), store.a}) {
            Read read(m, node);
            EXPECT_EQ(lock(m, 0), CyDataManager::eLockNodesLocked);
            EXPECT_EQ(lock(m, 20), CyDataManager::eLockTimeout);
            EXPECT_FALSE(read.IsGranted());
        }
        // A sibling subtree is free.
        Write writeC(m, store.c);
        EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);
    });

    // Reads share.
    writeA = Write();
    Read readA(m, store.a);
    ASSERT_EQ(lock(m, 0), CyDataManager::eLockGranted);
    onOtherThread([&] {
        Read readB(m, store.b);
        EXPECT_EQ(lock(m, 0), CyDataManager::eLockGranted);
        Write writeB(m, store.b);  // covered by nothing: a write needs its own grant
        EXPECT_FALSE(writeB.IsGranted());
    });
}

TEST(CyDataManager, AReaderWaitsForTheWriterOfAnAncestor) {
    Store store;
    CyDataManager& m = store.manager;
    auto writeRoot = std::make_unique<Write>(m, m.GetRootNode());
    ASSERT_EQ(lock(m, 0), CyDataManager::eLockGranted);

    std::atomic<bool> finished{false};
    CyDataManager::ELockStatus status = CyDataManager::eLockGeneralError;
    std::thread reader([&] {
        Read read(m, store.b);
        status = lock(m, 10000);
        EXPECT_TRUE(read.IsGranted());
        finished = true;
    });
    // The reader cannot get in while the write access lasts; once it goes, it does.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(finished.load());
    writeRoot.reset();
    reader.join();
    EXPECT_EQ(status, CyDataManager::eLockGranted);
}

TEST(CyDataManager, TreeChangesNeedWriteAccess) {
    Store store;
    CyDataManager& m = store.manager;
    auto d = CbMakeShared<CyNode>();
    EXPECT_FALSE(m.InsertNode(nullptr, d));
    EXPECT_FALSE(m.InsertNode(CbMakeShared<CyNode>(), d));  // parent outside the manager
    EXPECT_TRUE(m.InsertNode(store.c, d));
    EXPECT_FALSE(m.InsertNode(store.a, d));  // already inserted
    EXPECT_EQ(d->GetParent(), store.c);
    EXPECT_EQ(store.c->GetChildren().size(), 1u);

    Write writeB(m, store.b);
    EXPECT_FALSE(m.RemoveNode(writeB));  // not granted yet
    EXPECT_FALSE(m.MoveNode(writeB, store.c));
    ASSERT_EQ(lock(m, 0), CyDataManager::eLockGranted);
    EXPECT_FALSE(m.MoveNode(writeB, store.c));  // no write access to the new parent
    writeB = Write();

    Write writeRoot(m, m.GetRootNode());
    ASSERT_EQ(lock(m, 0), CyDataManager::eLockGranted);
    Write writeA(m, store.a);
    EXPECT_FALSE(m.MoveNode(writeA, store.b));  // into its own subtree
    EXPECT_TRUE(m.MoveNode(writeA, store.c));
    EXPECT_EQ(store.a->GetParent(), store.c);
    EXPECT_EQ(store.b->GetParent(), store.a);

    Read readA(m, store.a);
    EXPECT_FALSE(m.RemoveNode(readA));  // a read handle removes nothing
    EXPECT_TRUE(m.RemoveNode(writeA));
    // The whole subtree left the manager.
    EXPECT_EQ(store.a->GetDataManager(), nullptr);
    EXPECT_EQ(store.b->GetDataManager(), nullptr);
    EXPECT_EQ(store.b->GetParent(), nullptr);
    EXPECT_EQ(store.c->GetChildren().size(), 1u);
}
