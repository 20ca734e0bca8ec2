#pragma once

#include <memory>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyNode.h"

class CyDataManager;
struct CyDataLockRequest;

// A request of the thread that made it for read or write access to a node of a data
// manager (and with it to the node's whole subtree). The request is granted by the data
// manager's TryLock/TryLockAndWait, or at once when the thread's current access already
// covers it; it is released, with any access granted through it, when the last handle
// holding it goes. Copies share the request; assignment replaces the held request.
//
// A handle belongs to the thread that made it: it is not passed to another thread.
class CyDataHandleBase {
public:
    enum EAccess { eRead = 0, eWrite = 1 };

    CyDataHandleBase() = default;
    CyDataHandleBase(const CyDataHandleBase& other) = default;
    CyDataHandleBase(CyDataHandleBase&& other) noexcept = default;
    CyDataHandleBase& operator=(const CyDataHandleBase& other) = default;
    CyDataHandleBase& operator=(CyDataHandleBase&& other) noexcept = default;
    ~CyDataHandleBase() = default;

    // The handle refers to a node.
    bool IsValid() const;
    // The calling thread holds the handle's access.
    bool IsGranted() const;
    CbSmartPointer<CyNode> GetNode() const;
    EAccess GetAccess() const;
    CyDataManager* GetDataManager() const;

protected:
    CyDataHandleBase(CyDataManager& manager, CbSmartPointer<CyNode> node, EAccess access);

private:
    friend class CyDataManager;
    std::shared_ptr<CyDataLockRequest> m_request;
};
