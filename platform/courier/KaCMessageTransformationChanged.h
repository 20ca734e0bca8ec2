#pragma once

#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyMessage.h"
#include "platform/lattice/CyNode.h"

// Announces a node's new relative transformation, in single precision.
class KaCMessageTransformationChanged : public CyMessage {
    CB_DECLARE_RTTI()

public:
    KaCMessageTransformationChanged(CbSmartPointer<CyNode> node, const CbMatrix4Rf& trafo)
        : m_node(std::move(node)), m_trafo(trafo) {}

    const CbSmartPointer<CyNode>& GetNode() const { return m_node; }
    const CbMatrix4Rf& GetTrafo() const { return m_trafo; }

private:
    CbSmartPointer<CyNode> m_node;
    CbMatrix4Rf m_trafo;
};
