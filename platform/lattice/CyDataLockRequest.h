#pragma once

#include <thread>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyDataHandleBase.h"
#include "platform/lattice/CyNode.h"

class CyDataManager;

// One lock request, shared by the handles that hold it; registered with its data manager
// from its making until its last handle goes. Its fields are guarded by the manager's lock
// (`granted` is written only on the requesting thread).
struct CyDataLockRequest {
    CyDataManager* manager = nullptr;
    CbSmartPointer<CyNode> node;
    CyDataHandleBase::EAccess access = CyDataHandleBase::eRead;
    std::thread::id thread;
    bool granted = false;
    bool registered = false;

    ~CyDataLockRequest();
};
