#include "platform/lattice/CyDataHandleBase.h"

#include "platform/lattice/CyDataLockRequest.h"
#include "platform/lattice/CyDataManager.h"

CyDataLockRequest::~CyDataLockRequest() {
    if (registered) {
        manager->release(this);
    }
}

CyDataHandleBase::CyDataHandleBase(CyDataManager& manager, CbSmartPointer<CyNode> node,
                                   EAccess access)
    : m_request(manager.makeRequest(std::move(node), access)) {}

bool CyDataHandleBase::IsValid() const {
    return m_request && m_request->node;
}

bool CyDataHandleBase::IsGranted() const {
    return m_request && m_request->granted;
}

CbSmartPointer<CyNode> CyDataHandleBase::GetNode() const {
    return m_request ? m_request->node : nullptr;
}

CyDataHandleBase::EAccess CyDataHandleBase::GetAccess() const {
    return m_request ? m_request->access : eRead;
}

CyDataManager* CyDataHandleBase::GetDataManager() const {
    return m_request ? m_request->manager : nullptr;
}
