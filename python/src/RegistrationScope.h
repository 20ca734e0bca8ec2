#pragma once

#include <unordered_set>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Keeps the node manager's ID map free of the nodes that a binding call creates. The
// library registers every node it creates (CreateInnerNode, CreateLeaf, the inner nodes of
// NormalizeTreeStructure and new clusters), and the ID map holds a strong reference until
// DeleteNode. Python owns its trees through its node objects alone, so a scope around such
// a call unregisters, when it ends, every node registered since it began; otherwise each
// such node would live until the process ends.
//
// Holds strong references to the nodes registered when it began, so that no address is
// reused during the call. Not for concurrent use: binding calls hold the tree lock.
class RegistrationScope {
public:
    RegistrationScope();
    ~RegistrationScope();
    RegistrationScope(const RegistrationScope&) = delete;
    RegistrationScope& operator=(const RegistrationScope&) = delete;

private:
    std::vector<CbSmartPointer<KaCTransformationNode>> m_registered;
    std::unordered_set<const KaCTransformationNode*> m_before;
};
