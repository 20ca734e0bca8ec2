#include "transformationtree/nodes/KaCTransformationNodeWithTrafo.h"

#include "platform/abacus/CbMatrixInternal.h"
#include "platform/abacus/CyExceptionNotInvertible.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

KaCTransformationNodeWithTrafo::KaCTransformationNodeWithTrafo(
    CbSmartPointer<KaCTransformationNode> node, const CbMatrix4Rd& trafo,
    const CbMatrix4Rd& fatherTrafo)
    : m_node(std::move(node)), m_trafoToTraversalRoot(trafo), m_inverseFatherTrafo(fatherTrafo) {
    // The identity is its own inverse; most values of a walk start below the root.
    if (m_inverseFatherTrafo == c_matIdentityD) {
        return;
    }
    double determinant = 0.0;
    CbMatrixInternal::Invert(m_inverseFatherTrafo, determinant);
    if (determinant == 0.0) {
        CB_THROW(CyExceptionNotInvertible,
                 "KaCTransformationNodeWithTrafo: father transformation is singular");
    }
}

KaCTransformationNodeWithTrafo::KaCTransformationNodeWithTrafo(
    const KaCTransformationNodeWithTrafo&) = default;
KaCTransformationNodeWithTrafo& KaCTransformationNodeWithTrafo::operator=(
    const KaCTransformationNodeWithTrafo&) = default;
KaCTransformationNodeWithTrafo::~KaCTransformationNodeWithTrafo() = default;

bool KaCTransformationNodeWithTrafo::operator==(const KaCTransformationNodeWithTrafo& other) const {
    return m_node == other.m_node;
}

CbSmartPointer<KaCTransformationNode> KaCTransformationNodeWithTrafo::GetNode() {
    return m_node;
}

CbSmartPointer<const KaCTransformationNode> KaCTransformationNodeWithTrafo::GetNode() const {
    return m_node;
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationNodeWithTrafo::GetInnerNode() {
    if (!m_node || m_node->IsLeaf()) {
        return nullptr;
    }
    return CbStaticCast<KaCTransformationNodeInner>(m_node);
}

CbSmartPointer<KaCTransformationNodeLeaf> KaCTransformationNodeWithTrafo::GetLeafNode() {
    if (!m_node || !m_node->IsLeaf()) {
        return nullptr;
    }
    return CbStaticCast<KaCTransformationNodeLeaf>(m_node);
}

void KaCTransformationNodeWithTrafo::SetTrafoToTraversalRoot(const CbMatrix4Rd& trafo) {
    m_node->SetRelativeTrafo(trafo * m_inverseFatherTrafo);
}
