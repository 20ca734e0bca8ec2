#include "python/src/RegistrationScope.h"

#include "transformationtree/manager/KaCTransformationNodeManager.h"

RegistrationScope::RegistrationScope()
    : m_registered(KaCTransformationNodeManager::GetInstance().GetRegisteredNodes()) {
    m_before.reserve(m_registered.size());
    for (const CbSmartPointer<KaCTransformationNode>& node : m_registered) {
        m_before.insert(node.Get());
    }
}

RegistrationScope::~RegistrationScope() {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    for (const CbSmartPointer<KaCTransformationNode>& node : manager.GetRegisteredNodes()) {
        if (m_before.count(node.Get()) == 0) {
            manager.DeleteNode(node);
        }
    }
}
