#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStringConversion.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

namespace {

using NodeList = std::vector<CbSmartPointer<KaCTransformationNode>>;

// Holds both serialization mappers for one whole-tree operation and leaves them empty.
class MappingSession {
public:
    MappingSession()
        : m_nodes(KaCTransformationNodeSerializationIDMapper::GetInstance())
        , m_models(KaCModelSerializationIDMapper::GetInstance())
        , m_nodeLock(m_nodes.GetCriticalSection())
        , m_modelLock(m_models.GetCriticalSection()) {
        clear();
    }
    ~MappingSession() { clear(); }
    MappingSession(const MappingSession&) = delete;
    MappingSession& operator=(const MappingSession&) = delete;

    KaCTransformationNodeSerializationIDMapper& Nodes() { return m_nodes; }
    KaCModelSerializationIDMapper& Models() { return m_models; }

private:
    void clear() {
        m_nodes.ClearMapping();
        m_models.ClearMapping();
    }

    KaCTransformationNodeSerializationIDMapper& m_nodes;
    KaCModelSerializationIDMapper& m_models;
    CbCriticalSectionAuto m_nodeLock;
    CbCriticalSectionAuto m_modelLock;
};

[[noreturn]] void corrupt(const std::string& what) {
    CB_THROW(CbException, "corrupt tree record: " + what);
}

// The smallest model record: an empty class name and a byte count.
constexpr uint64_t c_minimumModelBytes = 4 + 8;

// The models of the nodes, each once. References name models by ID, so two models with
// one ID (read twice from one file, say) cannot be written: the record could not tell them
// apart, and reading refuses it.
std::vector<CbSmartPointer<const KaCModelCCT>> modelsOf(const NodeList& nodes) {
    std::vector<CbSmartPointer<const KaCModelCCT>> models;
    std::unordered_map<CyUniqueID, const KaCModelCCT*> seen;
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        CbSmartPointer<const KaCModelCCT> model = node->GetModel();
        if (!model) {
            continue;
        }
        auto [entry, added] = seen.emplace(model->GetId(), model.Get());
        if (added) {
            models.push_back(model);
        } else if (entry->second != model.Get()) {
            CB_THROW(CbException,
                     "KaCTransformationTreeSerializer::Write: two models share the ID " +
                         CbToUtf8(model->GetId().ToString()));
        }
    }
    return models;
}

// Fathers and child lists agree, every node but the first is listed exactly once, and the
// first node's subtree holds all nodes within the depth limit.
void checkTree(const NodeList& nodes) {
    std::unordered_map<const KaCTransformationNode*, size_t> listed;
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        listed[node.Get()] = 0;
    }
    if (nodes.front()->IsLeaf() || nodes.front()->GetFather()) {
        corrupt("the first node is not a root inner node");
    }
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        if (node->IsLeaf()) {
            continue;
        }
        const auto& inner = static_cast<const KaCTransformationNodeInner&>(*node);
        for (const CbSmartPointer<KaCTransformationNode>& child : inner.GetChildren()) {
            auto entry = listed.find(child.Get());
            if (entry == listed.end() || ++entry->second > 1) {
                corrupt("a child is listed twice or is not a node of the tree");
            }
            if (child->GetFather().Get() != &inner) {
                corrupt("a child names another father");
            }
        }
    }
    for (size_t i = 1; i < nodes.size(); ++i) {
        if (listed[nodes[i].Get()] != 1) {
            corrupt("a node is not a child of its father");
        }
    }
    size_t reached = 0;
    auto* root = static_cast<KaCTransformationNodeInner*>(nodes.front().Get());
    for (KaCTransformationNode::KaNNodeIterator it = root->BeginNode(); it; ++it) {
        if (it.GetPath().size() > KaCTransformationTreeSerializer::c_maxDepth) {
            corrupt("the tree is deeper than " +
                    std::to_string(KaCTransformationTreeSerializer::c_maxDepth));
        }
        ++reached;
    }
    if (reached != nodes.size()) {
        corrupt("nodes that the root does not reach");
    }
}

}  // namespace

void KaCTransformationTreeSerializer::dismantle(
    const std::vector<CbSmartPointer<KaCTransformationNode>>& nodes) {
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        if (!node->IsLeaf()) {
            auto& inner = static_cast<KaCTransformationNodeInner&>(*node);
            inner.m_children.clear();
            inner.noteWalkChange();
        }
    }
}

void KaCTransformationTreeSerializer::Write(CbStreamWriteBinary& stream,
                                            CbSmartPointer<const KaCTransformationNodeInner> root) {
    if (!root) {
        CB_THROW(CbException, "KaCTransformationTreeSerializer::Write: no root");
    }
    NodeList nodes;
    auto* top = const_cast<KaCTransformationNodeInner*>(root.Get());
    for (KaCTransformationNode::KaNNodeIterator it = top->BeginNode(); it; ++it) {
        nodes.push_back(it.GetCurrentNode());
    }
    const std::vector<CbSmartPointer<const KaCModelCCT>> models = modelsOf(nodes);
    MappingSession session;
    stream.WriteUInt32(c_version);
    stream.WriteUInt32(static_cast<uint32_t>(nodes.size()));
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        session.Nodes().WriteNodeForInstantiation(stream, node);
    }
    stream.WriteUInt32(static_cast<uint32_t>(models.size()));
    for (const CbSmartPointer<const KaCModelCCT>& model : models) {
        session.Models().WriteModel(stream, model);
    }
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        node->SerializeStructure(stream);
    }
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        node->SerializeAttributes(stream);
    }
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationTreeSerializer::Read(
    CbStreamReadBinary& stream, bool registerNodes) {
    stream.ReadAcceptedVersion("tree record", {c_version});
    NodeList nodes;
    try {
        MappingSession session;
        // Nodes are made as their instantiation records are read, long before the records
        // that complete them: the count must leave room for that many complete nodes.
        uint32_t count = stream.ReadCount(c_minimumNodeBytes, "tree node");
        if (count == 0) {
            corrupt("no nodes");
        }
        nodes.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            CbSmartPointer<KaCTransformationNode> node =
                session.Nodes().ReadNodeAndInstantiate(stream);
            if (!node) {
                corrupt("a node of unknown class");
            }
            nodes.push_back(node);
        }
        uint32_t models = stream.ReadCount(c_minimumModelBytes, "model");
        for (uint32_t i = 0; i < models; ++i) {
            if (!session.Models().ReadModel(stream)) {
                corrupt("a model of unknown class");
            }
        }
        for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
            node->SerializeStructure(stream);
        }
        for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
            node->SerializeAttributes(stream);
        }
        // Every node keeps the ID it was instantiated with, and no ID names two nodes (a
        // repeated one replaced an earlier mapping).
        for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
            if (session.Nodes().GetNode(node->GetID()) != node) {
                corrupt("a repeated or changed node ID");
            }
        }
        checkTree(nodes);
    } catch (...) {
        dismantle(nodes);
        throw;
    }
    // Nodes made for reading carry the name of the ID they were made with; a read tree's
    // nodes are named after their own IDs, as every node is.
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        node->SetName(node->GetID().ToString());
    }
    auto root = CbStaticCast<KaCTransformationNodeInner>(nodes.front());
    if (registerNodes) {
        try {
            KaCTransformationNodeManager::GetInstance().RegisterSubtree(root);
        } catch (...) {
            dismantle(nodes);
            throw;
        }
    }
    return root;
}
