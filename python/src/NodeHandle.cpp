#include "python/src/NodeHandle.h"

#include <functional>
#include <stdexcept>
#include <utility>

NodeHandle::NodeHandle(CbSmartPointer<KaCTransformationNode> node) : m_node(std::move(node)) {
    if (!m_node) {
        throw std::invalid_argument("no node");
    }
    reanchor();
}

void NodeHandle::reanchor() const {
    m_anchor = Root();
}

CbSmartPointer<KaCTransformationNode> NodeHandle::Root() const {
    CbSmartPointer<KaCTransformationNode> top = m_node;
    while (CbSmartPointer<KaCTransformationNode> father = top->GetFather()) {
        top = std::move(father);
    }
    return top;
}

const CbSmartPointer<KaCTransformationNode>& NodeHandle::Node() const {
    reanchor();
    return m_node;
}

CbSmartPointer<KaCTransformationNodeInner> NodeHandle::Inner() const {
    reanchor();
    return m_node->IsLeaf() ? nullptr : CbStaticCast<KaCTransformationNodeInner>(m_node);
}

CbSmartPointer<KaCTransformationNodeLeaf> NodeHandle::Leaf() const {
    reanchor();
    return m_node->IsLeaf() ? CbStaticCast<KaCTransformationNodeLeaf>(m_node) : nullptr;
}

bool NodeHandle::TrafoInto(const KaCTransformationNode* ancestor, CbMatrix4Rd& trafo) const {
    reanchor();
    trafo = c_matIdentityD;
    CbSmartPointer<KaCTransformationNode> current = m_node;
    while (current.Get() != ancestor) {
        CbSmartPointer<KaCTransformationNode> father = current->GetFather();
        if (!father) {
            // At the root: the root's own trafo never enters, as in the walks.
            return ancestor == nullptr;
        }
        trafo = trafo * current->GetRelativeTrafo();
        current = std::move(father);
    }
    return true;
}

size_t NodeHandle::Hash() const {
    return std::hash<const void*>()(m_node.Get());
}
