#pragma once

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyMessage.h"
#include "platform/lattice/CyNode.h"

// Announces a change of the tree structure: a node was inserted, removed or moved, or a
// cluster was created. `father` is the node's (new) father, or the model node for the
// cluster messages; null for a node that had none.
class KaCMessageTreeStructureModified : public CyMessage {
    CB_DECLARE_RTTI()

public:
    enum EModificationType {
        eNodeInserted = 1,          // created and appended below `father`
        eNodeRemoved = 2,           // removed from the tree; `father` is the father it had
        eNodeMoved = 3,             // moved below the new father `father`
        eClusterAdded = 4,          // a new cluster below the model node `father`
        eClusterRemoved = 5,        // not posted by the library
        eActiveClusterChanged = 6,  // the new cluster became the active one
    };

    KaCMessageTreeStructureModified(CbSmartPointer<CyNode> node, CbSmartPointer<CyNode> father,
                                    EModificationType type)
        : m_node(std::move(node)), m_father(std::move(father)), m_type(type) {}

    const CbSmartPointer<CyNode>& GetNode() const { return m_node; }
    const CbSmartPointer<CyNode>& GetFather() const { return m_father; }
    EModificationType GetModificationType() const { return m_type; }

private:
    CbSmartPointer<CyNode> m_node;
    CbSmartPointer<CyNode> m_father;
    EModificationType m_type;
};
