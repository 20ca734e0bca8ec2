#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFlatMap.h"
#include "platform/harbor/CbPrefetch.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryCounter.h"
#include "platform/harbor/CbStringConversion.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"
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

// Reading and writing visit the nodes in record order more than once (instantiation,
// structure), and a large tree's nodes do not stay in the caches between the visits:
// loading the next nodes' memory a few nodes ahead overlaps the waits.
constexpr size_t c_nodesAhead = 6;

[[noreturn]] void corrupt(const std::string& what) {
    CB_THROW(CbException, "corrupt tree record: " + what);
}

// The smallest model record: an empty class name and a byte count.
constexpr uint64_t c_minimumModelBytes = 4 + 8;

}  // namespace

// What a whole-tree write writes, gathered in one walk. The caller's reference keeps the tree,
// and its read access keeps it unchanged, so the lists hold plain pointers.
struct KaCTransformationTreeSerializer::TreeContents {
    // The nodes of the tree below the root in walk order (pre-order: a node, then each
    // child's subtree in child order), as the node iterator visits them.
    std::vector<const KaCTransformationNode*> nodes;
    // The models of the nodes, each once. References name models by ID, so two models with
    // one ID (read twice from one file, say) cannot be written: the record could not tell
    // them apart, and reading refuses it.
    std::vector<const KaCModelCCT*> models;
    // The code units of all descriptions.
    uint64_t descriptionUnits = 0;
};

KaCTransformationTreeSerializer::TreeContents KaCTransformationTreeSerializer::contentsOf(
    const KaCTransformationNodeInner& root) {
    TreeContents contents;
    CbFlatMap<CyUniqueID, const KaCModelCCT*> seen;
    const KaCModelCCT* previous = nullptr;  // neighbours mostly share a model
    auto add = [&](const KaCTransformationNode& node) {
        contents.nodes.push_back(&node);
        contents.descriptionUnits += node.m_description.size();
        const KaCModelCCT* model = node.m_model.Get();
        if (model == nullptr || model == previous) {
            return;
        }
        previous = model;
        auto [entry, added] = seen.TryEmplace(model->GetId(), model);
        if (added) {
            contents.models.push_back(model);
        } else if (*entry != model) {
            CB_THROW(CbException,
                     "KaCTransformationTreeSerializer::Write: two models share the ID " +
                         CbToUtf8(model->GetId().ToString()));
        }
    };
    struct Level {
        const KaCTransformationNodeInner::ChildList* children;
        size_t next;
    };
    std::vector<Level> path;
    add(root);
    path.push_back({&root.GetChildren(), 0});
    while (!path.empty()) {
        Level& level = path.back();
        if (level.next == level.children->size()) {
            path.pop_back();
            continue;
        }
        const KaCTransformationNode& node = *(*level.children)[level.next++];
        add(node);
        if (!node.IsLeaf()) {
            const auto& children =
                static_cast<const KaCTransformationNodeInner&>(node).GetChildren();
            // The children are visited next (the leaves among them right away).
            for (const CbSmartPointer<KaCTransformationNode>& child : children) {
                CbPrefetch(child.Get());
            }
            path.push_back({&children, 0});
        }
    }
    return contents;
}

// Fathers and child lists agree, every node but the first is listed exactly once, and the
// first node's subtree holds all nodes within the depth limit. One walk from the first node
// proves it: every child was resolved through this read's mapping, so it is one of `nodes`;
// a child must name the father that lists it, and since a node names one father, no two
// lists hold it; within one list a child may appear once. So the walk meets each node at
// most once, and meeting all of them leaves no node unlisted or in a cycle.
//
// Records are written in walk order, and a walk that meets the nodes in record order meets
// each once: then no list needs its duplicates sorted out. That walk is taken while the
// records are read (RecordOrderWalk); only a tree it could not walk in record order is
// walked again here, with every list checked.
void KaCTransformationTreeSerializer::checkTree(const NodeList& nodes, bool walkedInRecordOrder) {
    if (nodes.front()->IsLeaf() || nodes.front()->GetFather()) {
        corrupt("the first node is not a root inner node");
    }
    if (!walkedInRecordOrder) {
        walkTree(nodes);
    }
}

void KaCTransformationTreeSerializer::RecordOrderWalk::Step(const KaCTransformationNode& node) {
    if (!m_inOrder) {
        return;
    }
    if (!m_started) {
        m_started = true;
        if (node.IsLeaf()) {
            m_inOrder = false;
            return;
        }
        m_path.emplace_back(static_cast<const KaCTransformationNodeInner*>(&node), 0);
        return;
    }
    popFinishedLevels();
    if (m_path.empty()) {
        m_inOrder = false;
        return;
    }
    auto& [inner, next] = m_path.back();
    // Every node is held by the read's node list, so the father link can be compared
    // unlocked.
    if (inner->GetChildren()[next].Get() != &node || !node.m_father.ObservesLive(inner) ||
        m_path.size() > c_maxDepth) {
        m_inOrder = false;
        return;
    }
    ++next;
    if (!node.IsLeaf()) {
        m_path.emplace_back(static_cast<const KaCTransformationNodeInner*>(&node), 0);
    }
}

bool KaCTransformationTreeSerializer::RecordOrderWalk::MetAllInOrder() {
    if (m_inOrder) {
        popFinishedLevels();
    }
    return m_inOrder && m_started && m_path.empty();
}

void KaCTransformationTreeSerializer::RecordOrderWalk::popFinishedLevels() {
    while (!m_path.empty() && m_path.back().second == m_path.back().first->GetChildren().size()) {
        m_path.pop_back();
    }
}

void KaCTransformationTreeSerializer::walkTree(const NodeList& nodes) {
    size_t reached = 1;
    std::vector<const KaCTransformationNode*> siblings;
    std::vector<std::pair<const KaCTransformationNodeInner*, size_t>> path;
    path.emplace_back(static_cast<const KaCTransformationNodeInner*>(nodes.front().Get()), 0);
    while (!path.empty()) {
        auto& [inner, next] = path.back();
        const std::vector<CbSmartPointer<KaCTransformationNode>>& children = inner->GetChildren();
        if (next == 0 && children.size() > 1) {
            siblings.clear();
            for (const CbSmartPointer<KaCTransformationNode>& child : children) {
                siblings.push_back(child.Get());
            }
            std::sort(siblings.begin(), siblings.end());
            if (std::adjacent_find(siblings.begin(), siblings.end()) != siblings.end()) {
                corrupt("a child is listed twice");
            }
        }
        if (next == children.size()) {
            path.pop_back();
            continue;
        }
        const KaCTransformationNode* child = children[next++].Get();
        // Every node is held by `nodes`, so the father link can be compared unlocked.
        if (!child->m_father.ObservesLive(inner)) {
            corrupt("a child names another father");
        }
        ++reached;
        if (path.size() > KaCTransformationTreeSerializer::c_maxDepth) {
            corrupt("the tree is deeper than " +
                    std::to_string(KaCTransformationTreeSerializer::c_maxDepth));
        }
        if (!child->IsLeaf()) {
            path.emplace_back(static_cast<const KaCTransformationNodeInner*>(child), 0);
        }
    }
    if (reached != nodes.size()) {
        corrupt("nodes that the root does not reach");
    }
}

void KaCTransformationTreeSerializer::dismantle(
    const std::vector<CbSmartPointer<KaCTransformationNode>>& nodes) {
    for (const CbSmartPointer<KaCTransformationNode>& node : nodes) {
        if (!node->IsLeaf()) {
            auto& inner = static_cast<KaCTransformationNodeInner&>(*node);
            inner.m_children.clear();
        }
    }
}

void KaCTransformationTreeSerializer::Write(CbStreamWriteBinary& stream,
                                            CbSmartPointer<const KaCTransformationNodeInner> root) {
    if (!root) {
        CB_THROW(CbException, "KaCTransformationTreeSerializer::Write: no root");
    }
    const TreeContents contents = contentsOf(*root);
    const std::vector<const KaCTransformationNode*>& nodes = contents.nodes;
    MappingSession session;
    KaCTransformationNode::WholeTreeWriteScope wholeTree;
    // Room for the whole record at once: the fixed parts of the nodes, their descriptions
    // and child references (the smallest node record covers an attribute container, 32
    // more bytes per node cover a few attributes), and the models as they count themselves.
    uint64_t expected =
        12 + nodes.size() * (c_minimumNodeBytes + 16 + 32) + 2 * contents.descriptionUnits;
    for (const KaCModelCCT* model : contents.models) {
        CbStreamWriteBinaryCounter counter;
        model->SerializeMetaData(counter);
        model->SerializeGeometry(counter);
        expected += 64 + counter.GetCount();
    }
    stream.ExpectBytes(expected);
    stream.WriteUInt32(c_version);
    stream.WriteUInt32(static_cast<uint32_t>(nodes.size()));
    // Each pass loads the nodes a few ahead of the one it writes (see Read).
    auto ahead = [&](size_t i) {
        return i + c_nodesAhead < nodes.size() ? nodes[i + c_nodesAhead] : nodes[i];
    };
    // References name nodes by ID, so the writer needs no mapping of the nodes.
    for (size_t i = 0; i < nodes.size(); ++i) {
        CbPrefetch(ahead(i), sizeof(KaCTransformationNode));
        session.Nodes().WriteNodeForInstantiationUnmapped(stream, *nodes[i]);
    }
    stream.WriteUInt32(static_cast<uint32_t>(contents.models.size()));
    for (const KaCModelCCT* model : contents.models) {
        session.Models().WriteModel(stream, CbSmartPointer<const KaCModelCCT>(model));
    }
    // Which nodes carry no attributes is noted while their memory is at hand for the
    // structure records, so that the attribute records of those (most nodes) are written
    // without going back to the nodes.
    std::vector<uint8_t> withoutAttributes(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        CbPrefetch(ahead(i), sizeof(KaCTransformationNodeLeaf));
        nodes[i]->SerializeStructure(stream);
        withoutAttributes[i] = nodes[i]->m_attributes.GetCount() == 0 ? 1 : 0;
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (withoutAttributes[i] != 0) {
            KaARTTIAttributeContainer::WriteEmpty(stream);
        } else {
            nodes[i]->SerializeAttributes(stream);
        }
    }
}

CbSmartPointer<KaCTransformationNodeInner> KaCTransformationTreeSerializer::Read(
    CbStreamReadBinary& stream, bool registerNodes) {
    stream.ReadAcceptedVersion("tree record", {c_version});
    NodeList nodes;
    try {
        MappingSession session;
        // Every node below is made by this read and reaches the caller only at its end.
        KaCTransformationNode::FreshReadScope fresh;
        // Nodes are made as their instantiation records are read, long before the records
        // that complete them: the count must leave room for that many complete nodes.
        uint32_t count = stream.ReadCount(c_minimumNodeBytes, "tree node");
        if (count == 0) {
            corrupt("no nodes");
        }
        session.Nodes().ReserveMapping(count);
        nodes = session.Nodes().ReadNodesAndInstantiate(stream, count);
        if (nodes.size() != count || !nodes.back()) {
            if (!nodes.empty() && !nodes.back()) {
                nodes.pop_back();
            }
            corrupt("a node of unknown class");
        }
        uint32_t models = stream.ReadCount(c_minimumModelBytes, "model");
        for (uint32_t i = 0; i < models; ++i) {
            if (!session.Models().ReadModel(stream)) {
                corrupt("a model of unknown class");
            }
        }
        // Every node keeps the ID it was made with (checked while its record is at hand),
        // and no ID was made twice (a repeated one would have replaced a mapping).
        if (!session.Nodes().InstantiatedNodesKeepTheirMapping()) {
            corrupt("a repeated node ID");
        }
        // While a node's memory is at hand for its structure record, the tree check walks
        // to it and notes whether it carries attributes (the two node classes are made
        // without): a node without that reads an empty attribute record is left alone.
        RecordOrderWalk walk;
        std::vector<uint8_t> withoutAttributes(nodes.size());
        for (size_t i = 0; i < nodes.size(); ++i) {
            KaCTransformationNode& node = *nodes[i];
            if (i + c_nodesAhead < nodes.size()) {
                CbPrefetch(nodes[i + c_nodesAhead].Get(), sizeof(KaCTransformationNodeLeaf));
            }
            const CyUniqueID made = node.GetID();
            node.SerializeStructure(stream);
            if (node.GetID() != made) {
                corrupt("a node record that changes its node's ID");
            }
            walk.Step(node);
            withoutAttributes[i] = node.m_attributes.GetCount() == 0 ? 1 : 0;
        }
        for (size_t i = 0; i < nodes.size(); ++i) {
            const uint32_t attributes = KaARTTIAttributeContainer::ReadRecordCount(stream);
            if (attributes != 0 || withoutAttributes[i] == 0) {
                nodes[i]->m_attributes.ReadAttributes(stream, attributes);
            }
        }
        checkTree(nodes, walk.MetAllInOrder());
        fresh.Finish();
    } catch (...) {
        dismantle(nodes);
        throw;
    }
    // Nodes made for reading are named after the ID they were made with, which the checks
    // above found unchanged: a read tree's nodes are named after their own IDs, as every
    // node is.
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
