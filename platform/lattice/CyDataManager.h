#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/harbor/CbCheckReturn.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyDataHandleBase.h"
#include "platform/lattice/CyDataLockRequest.h"
#include "platform/lattice/CyNode.h"

// The application's store of shared data: a tree of CyNodes below a root node, and read
// and write access to nodes for the application's threads.
//
// Access is hierarchical: access to a node covers its whole subtree. Reads share; a write
// conflicts with any access of another thread to the node, its ancestors or its
// descendants. A thread asks for access by making handles (lock requests) and then calls
// TryLock/TryLockAndWait once, which grants all of its pending requests at once or none,
// waiting on a condition variable up to the time-out. A request that the thread's current
// access already covers is granted when it is made; a grant call that finds only such
// requests succeeds, and only a thread without any request gets eLockNoRequests. A thread
// that holds access and asks
// for more that its access does not cover is refused (status eLockUnreleased), which rules
// out lock-order deadlocks between threads.
//
// Thread-safe: every operation takes the manager's lock, never while waiting. The manager
// must outlive every handle made for it and every node it holds.
class CyDataManager {
public:
    enum ELockStatus {
        eLockGranted = 0,
        eLockGeneralError = 1,
        eLockNoRequests = 2,   // the thread has no request at all, pending or granted
        eLockUnreleased = 3,   // the thread still holds access and asks for more
        eLockInvalidNode = 4,  // a requested node is not (any more) in this manager
        eLockNodesLocked = 5,  // conflicting access of another thread, with a wait time of 0
        eLockTimeout = 6,      // the conflicting access was not released in time
    };

    CyDataManager();
    virtual ~CyDataManager();
    CyDataManager(const CyDataManager&) = delete;
    CyDataManager& operator=(const CyDataManager&) = delete;

    // The top node; every other node is inserted below it.
    CbSmartPointer<CyNode> GetRootNode() const { return m_root; }

    // Inserts `node` (in no manager) as the last child of `parent` (in this manager).
    CbCheckReturn<bool> InsertNode(CbSmartPointer<CyNode> parent, CbSmartPointer<CyNode> node);
    // Removes the handle's node with its subtree; the handle must hold granted write access.
    CbCheckReturn<bool> RemoveNode(CyDataHandleBase& handle);
    // Re-parents the handle's node (granted write access) below `newParent`, to which the
    // thread must hold write access too; a parent inside the node's subtree is refused.
    CbCheckReturn<bool> MoveNode(CyDataHandleBase& handle, CbSmartPointer<CyNode> newParent);

    // Grant all pending requests of the calling thread, or none.
    CbCheckReturn<bool> TryLock();
    CbCheckReturn<bool> TryLockAndWait(unsigned int milliseconds);
    CbCheckReturn<bool> TryLockAndWait(unsigned int milliseconds, ELockStatus& status);

    // Whether the calling thread holds access to `node` that covers `access`.
    bool HoldsAccess(const CyNode& node, CyDataHandleBase::EAccess access) const;
    // The node's parent in this manager's tree, or null.
    CbSmartPointer<CyNode> GetParentOf(const CyNode& node) const;
    std::vector<CbSmartPointer<CyNode>> GetChildrenOf(const CyNode& node) const;
    // Number of requests (pending and granted) of all threads; for diagnostics and tests.
    size_t GetNrRequests() const;

private:
    friend class CyDataHandleBase;
    friend struct CyDataLockRequest;

    std::shared_ptr<CyDataLockRequest> makeRequest(CbSmartPointer<CyNode> node,
                                                   CyDataHandleBase::EAccess access);
    void release(CyDataLockRequest* request);

    // The helpers below expect m_mutex to be held.
    bool containsLocked(const CyNode& node) const { return node.m_dataManager.load() == this; }
    static bool isAncestorOrSelf(const CyNode& ancestor, const CyNode& node);
    static bool related(const CyNode& a, const CyNode& b) {
        return isAncestorOrSelf(a, b) || isAncestorOrSelf(b, a);
    }
    // An unregistered request of the calling thread, for coverage tests.
    CyDataLockRequest probe(const CyNode& node, CyDataHandleBase::EAccess access) const;
    bool coveredLocked(const CyDataLockRequest& request) const;
    bool conflictsLocked(const CyDataLockRequest& request) const;
    ELockStatus tryGrantLocked(std::unique_lock<std::mutex>& lock, unsigned int milliseconds);
    static void detachSubtreeLocked(CyNode& node);

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    CbSmartPointer<CyNode> m_root;
    std::vector<CyDataLockRequest*> m_pending;  // not yet granted, of all threads
    std::vector<CyDataLockRequest*> m_granted;  // granted, of all threads
};
