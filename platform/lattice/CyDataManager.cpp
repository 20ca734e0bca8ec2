#include "platform/lattice/CyDataManager.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/lattice/CyDataLockRequest.h"

CyDataManager::CyDataManager() : m_root(CbMakeShared<CyNode>()) {
    m_root->SetName(L"DataManagerRoot");
    m_root->m_dataManager.store(this);
}

CyDataManager::~CyDataManager() {
    std::lock_guard<std::mutex> lock(m_mutex);
    detachSubtreeLocked(*m_root);
}

// --- The tree

bool CyDataManager::isAncestorOrSelf(const CyNode& ancestor, const CyNode& node) {
    for (const CyNode* current = &node; current != nullptr; current = current->m_parent) {
        if (current == &ancestor) {
            return true;
        }
    }
    return false;
}

void CyDataManager::detachSubtreeLocked(CyNode& node) {
    for (const CbSmartPointer<CyNode>& child : node.m_children) {
        child->m_parent = nullptr;
        detachSubtreeLocked(*child);
    }
    node.m_children.clear();
    node.m_dataManager.store(nullptr);
}

CbCheckReturn<bool> CyDataManager::InsertNode(CbSmartPointer<CyNode> parent,
                                              CbSmartPointer<CyNode> node) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!parent || !node || !containsLocked(*parent) || node->GetDataManager() != nullptr) {
        return false;
    }
    node->m_parent = parent.Get();
    node->m_dataManager.store(this);
    parent->m_children.push_back(node);
    return true;
}

CbCheckReturn<bool> CyDataManager::RemoveNode(CyDataHandleBase& handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CyDataLockRequest* request = handle.m_request.get();
    if (request == nullptr || request->manager != this || !request->granted ||
        request->access != CyDataHandleBase::eWrite || !containsLocked(*request->node) ||
        request->node == m_root) {
        return false;
    }
    CyNode& node = *request->node;
    // Keep the node alive while it leaves its parent's list, which may hold the last reference.
    CbSmartPointer<CyNode> keep(&node);
    if (CyNode* parent = node.m_parent) {
        auto& siblings = parent->m_children;
        siblings.erase(std::find(siblings.begin(), siblings.end(), keep));
    }
    node.m_parent = nullptr;
    detachSubtreeLocked(node);
    m_released.notify_all();
    return true;
}

CbCheckReturn<bool> CyDataManager::MoveNode(CyDataHandleBase& handle,
                                            CbSmartPointer<CyNode> newParent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CyDataLockRequest* request = handle.m_request.get();
    if (request == nullptr || request->manager != this || !request->granted ||
        request->access != CyDataHandleBase::eWrite || !newParent ||
        !containsLocked(*request->node) || !containsLocked(*newParent) || request->node == m_root ||
        isAncestorOrSelf(*request->node, *newParent)) {
        return false;
    }
    if (!coveredLocked(probe(*newParent, CyDataHandleBase::eWrite))) {
        return false;
    }
    CyNode& node = *request->node;
    if (node.m_parent == newParent.Get()) {
        return true;
    }
    CbSmartPointer<CyNode> keep(&node);
    auto& siblings = node.m_parent->m_children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), keep));
    node.m_parent = newParent.Get();
    newParent->m_children.push_back(keep);
    return true;
}

CbSmartPointer<CyNode> CyDataManager::GetParentOf(const CyNode& node) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return containsLocked(node) ? CbSmartPointer<CyNode>(node.m_parent) : nullptr;
}

std::vector<CbSmartPointer<CyNode>> CyDataManager::GetChildrenOf(const CyNode& node) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return containsLocked(node) ? node.m_children : std::vector<CbSmartPointer<CyNode>>();
}

// --- Requests and access

CyDataLockRequest CyDataManager::probe(const CyNode& node, CyDataHandleBase::EAccess access) const {
    CyDataLockRequest request;
    request.node = const_cast<CyNode*>(&node);
    request.access = access;
    request.thread = std::this_thread::get_id();
    return request;
}

std::shared_ptr<CyDataLockRequest> CyDataManager::makeRequest(CbSmartPointer<CyNode> node,
                                                              CyDataHandleBase::EAccess access) {
    auto request = std::make_shared<CyDataLockRequest>();
    request->manager = this;
    request->node = std::move(node);
    request->access = access;
    request->thread = std::this_thread::get_id();
    std::lock_guard<std::mutex> lock(m_mutex);
    request->registered = true;
    if (request->node && coveredLocked(*request)) {
        request->granted = true;
        m_granted.push_back(request.get());
    } else {
        m_pending.push_back(request.get());
    }
    return request;
}

void CyDataManager::release(CyDataLockRequest* request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& list = request->granted ? m_granted : m_pending;
    list.erase(std::find(list.begin(), list.end(), request));
    if (request->granted) {
        m_released.notify_all();
    }
}

bool CyDataManager::coveredLocked(const CyDataLockRequest& request) const {
    return std::any_of(m_granted.begin(), m_granted.end(), [&](const CyDataLockRequest* granted) {
        return granted->thread == request.thread &&
               (granted->access == CyDataHandleBase::eWrite ||
                request.access == CyDataHandleBase::eRead) &&
               isAncestorOrSelf(*granted->node, *request.node);
    });
}

bool CyDataManager::conflictsLocked(const CyDataLockRequest& request) const {
    return std::any_of(m_granted.begin(), m_granted.end(), [&](const CyDataLockRequest* granted) {
        return granted->thread != request.thread &&
               (granted->access == CyDataHandleBase::eWrite ||
                request.access == CyDataHandleBase::eWrite) &&
               related(*granted->node, *request.node);
    });
}

bool CyDataManager::HoldsAccess(const CyNode& node, CyDataHandleBase::EAccess access) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return coveredLocked(probe(node, access));
}

size_t CyDataManager::GetNrRequests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending.size() + m_granted.size();
}

CyDataManager::ELockStatus CyDataManager::tryGrantLocked(std::unique_lock<std::mutex>& lock,
                                                         unsigned int milliseconds) {
    const std::thread::id self = std::this_thread::get_id();
    auto mine = [&] {
        std::vector<CyDataLockRequest*> requests;
        for (CyDataLockRequest* request : m_pending) {
            if (request->thread == self) {
                requests.push_back(request);
            }
        }
        return requests;
    };
    std::vector<CyDataLockRequest*> requests = mine();
    const bool holdsAccess =
        std::any_of(m_granted.begin(), m_granted.end(),
                    [&](const CyDataLockRequest* g) { return g->thread == self; });
    if (requests.empty()) {
        // Handles covered by access the thread holds were granted when they were made: a
        // grant call then has nothing left to do. Only a thread without any handle has
        // nothing to grant.
        return holdsAccess ? eLockGranted : eLockNoRequests;
    }
    if (holdsAccess) {
        return eLockUnreleased;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (std::any_of(requests.begin(), requests.end(), [&](const CyDataLockRequest* r) {
                return !r->node || !containsLocked(*r->node);
            })) {
            return eLockInvalidNode;
        }
        if (std::none_of(requests.begin(), requests.end(),
                         [&](const CyDataLockRequest* r) { return conflictsLocked(*r); })) {
            for (CyDataLockRequest* request : requests) {
                request->granted = true;
                m_pending.erase(std::find(m_pending.begin(), m_pending.end(), request));
                m_granted.push_back(request);
            }
            return eLockGranted;
        }
        if (milliseconds == 0) {
            return eLockNodesLocked;
        }
        if (m_released.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: the release may have come with the time-out.
            requests = mine();
            bool free =
                std::none_of(requests.begin(), requests.end(),
                             [&](const CyDataLockRequest* r) { return conflictsLocked(*r); });
            if (!free) {
                return eLockTimeout;
            }
        }
        requests = mine();
    }
}

CbCheckReturn<bool> CyDataManager::TryLock() {
    return TryLockAndWait(0);
}

CbCheckReturn<bool> CyDataManager::TryLockAndWait(unsigned int milliseconds) {
    ELockStatus status = eLockGeneralError;
    return TryLockAndWait(milliseconds, status);
}

CbCheckReturn<bool> CyDataManager::TryLockAndWait(unsigned int milliseconds, ELockStatus& status) {
    std::unique_lock<std::mutex> lock(m_mutex);
    status = tryGrantLocked(lock, milliseconds);
    return status == eLockGranted;
}
