#pragma once

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyMessage.h"
#include "platform/lattice/CyNode.h"
#include "platform/lattice/CyUniqueID.h"

// Announces a change of the surfel collection (model) that a node holds; `id` names the
// model concerned.
class KaCMessageSurfelCollectionModified : public CyMessage {
    CB_DECLARE_RTTI()

public:
    enum EModificationType {
        eSurfelCollectionAboutToBeDeleted = 1,  // the node's model is about to be dropped
        eSurfelCollectionAdded = 2,             // not posted by the library
        eSurfelCollectionChanged = 3,           // not posted by the library
    };

    KaCMessageSurfelCollectionModified(CbSmartPointer<CyNode> node, const CyUniqueID& id,
                                       EModificationType type)
        : m_node(std::move(node)), m_id(id), m_type(type) {}

    const CbSmartPointer<CyNode>& GetNode() const { return m_node; }
    const CyUniqueID& GetId() const { return m_id; }
    EModificationType GetModificationType() const { return m_type; }

private:
    CbSmartPointer<CyNode> m_node;
    CyUniqueID m_id;
    EModificationType m_type;
};
