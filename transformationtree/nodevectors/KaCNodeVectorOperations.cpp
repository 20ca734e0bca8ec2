#include "transformationtree/nodevectors/KaCNodeVectorOperations.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "transformationtree/nodes/KaCAcquisitionOrder.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

namespace {

constexpr uint32_t c_version = 2;
constexpr uint32_t c_cachedRevisions = 2;
// Cached revision `index` is the subtree revision this mask selects; a flag bit asks for it.
constexpr unsigned int c_maskOfIndex[c_cachedRevisions] = {KaCTransformationNode::eRevisionModel,
                                                           KaCTransformationNode::eRevisionTrafo};
// Node reference (16), matrix version (4) and values (128): the smallest version 1 element.
constexpr uint64_t c_minimumElementBytes = 16 + 4 + 16 * 8;

// Caches the subtree revisions `flags` asks for; the others stay as they are.
void cacheRevisions(KaCNodeAccelerated& element, const int64_t subtree[2], unsigned int flags) {
    for (unsigned int index = 0; index < c_cachedRevisions; ++index) {
        if ((flags & c_maskOfIndex[index]) != 0) {
            element.nodeRevisions[index] = subtree[index];
        }
    }
}

bool wantsRevisions(unsigned int flags) {
    return (flags & KaCTransformationNode::eRevisionAll) != 0;
}

// Leaf and cached-leaf walks: the elements' subtrees are disjoint, so one walk of each
// element's subtree, taking both revisions at once, reads every node at most once.
template <class Iterator>
void appendWalk(KaCNodeVectorOperations::Elements& elements, Iterator it, const Iterator& end,
                const CbMatrix4Rd& trafo, unsigned int flags) {
    for (; it != end; ++it) {
        KaCNodeAccelerated& element = elements.emplace_back(it, trafo);
        if (wantsRevisions(flags)) {
            int64_t subtree[2];
            element.node->GetNodeRevisionsSubtree(subtree);
            cacheRevisions(element, subtree, flags);
        }
    }
}

// The subtree maxima of the elements of an all-nodes walk, whose subtrees nest: a walk of
// each element's subtree would read every node once per ancestor. The walk is pre-order,
// so an element's subtree is complete when the walk next reaches a node at the element's
// depth or above; its maxima are cached then and folded into its father's element. Each
// node's own revisions are read once.
class SubtreeMaxima {
public:
    SubtreeMaxima(KaCNodeVectorOperations::Elements& elements, unsigned int flags)
        : m_elements(elements), m_flags(flags) {}

    // The walk appended element `index` for a node `depth` levels below the traversal root.
    void Enter(size_t index, size_t depth) {
        closeFrom(depth);
        Open& open = m_open.emplace_back(Open{index, depth, {-1, -1}});
        m_elements[index].node->GetNodeRevisions(open.maxima);
    }
    // The walk is over: every open element's subtree is complete.
    void Finish() { closeFrom(0); }
    // The walk stopped early (it threw): the open elements' subtrees were not all reached,
    // so their maxima come from walks of their subtrees, as if the walk had gone on.
    void Abandon() {
        for (const Open& open : m_open) {
            KaCNodeAccelerated& element = m_elements[open.index];
            int64_t subtree[2];
            element.node->GetNodeRevisionsSubtree(subtree);
            cacheRevisions(element, subtree, m_flags);
        }
        m_open.clear();
    }

private:
    struct Open {
        size_t index;  // elements may grow, so no reference
        size_t depth;
        int64_t maxima[2];
    };

    // Closes the open elements `depth` levels deep or deeper, innermost first.
    void closeFrom(size_t depth) {
        while (!m_open.empty() && m_open.back().depth >= depth) {
            const Open closed = m_open.back();
            m_open.pop_back();
            cacheRevisions(m_elements[closed.index], closed.maxima, m_flags);
            if (!m_open.empty()) {
                Open& father = m_open.back();
                father.maxima[0] = std::max(father.maxima[0], closed.maxima[0]);
                father.maxima[1] = std::max(father.maxima[1], closed.maxima[1]);
            }
        }
    }

    KaCNodeVectorOperations::Elements& m_elements;
    const unsigned int m_flags;
    std::vector<Open> m_open;  // the elements on the walk's path, outermost first
};

void appendAllNodes(KaCNodeVectorOperations::Elements& elements, KaCTransformationNode& root,
                    const CbMatrix4Rd& trafo, unsigned int flags) {
    if (!wantsRevisions(flags)) {
        appendWalk(elements, root.BeginNode(), root.EndNode(), trafo, flags);
        return;
    }
    SubtreeMaxima maxima(elements, flags);
    try {
        const KaCTransformationNode::KaNNodeIterator end = root.EndNode();
        for (KaCTransformationNode::KaNNodeIterator it = root.BeginNode(); it != end; ++it) {
            elements.emplace_back(it, trafo);
            maxima.Enter(elements.size() - 1, it.GetPath().size());
        }
    } catch (...) {
        maxima.Abandon();
        throw;
    }
    maxima.Finish();
}

}  // namespace

void KaCNodeVectorOperations::AppendInnerNode(Elements& elements,
                                              CbSmartPointer<const KaCTransformationNode> node,
                                              int type, const CbMatrix4Rd& trafo,
                                              unsigned int flags) {
    if (!node) {
        return;
    }
    // Walking needs the mutable node the iterators hold; the walk changes nothing.
    auto* root = const_cast<KaCTransformationNode*>(node.Get());
    switch (type) {
        case 0:
            appendWalk(elements, root->BeginLeaf(), root->EndLeaf(), trafo, flags);
            break;
        case 1:
            appendWalk(elements, root->BeginCachedLeaf(), root->EndCachedLeaf(), trafo, flags);
            break;
        case 2:
            appendAllNodes(elements, *root, trafo, flags);
            break;
        default:
            break;
    }
}

void KaCNodeVectorOperations::SortBySequenceNumber(Elements& elements) {
    // Elements without node keep their relative order, at the end.
    KaCAcquisitionOrder::Sort(elements.begin(), elements.end(),
                              [](const KaCNodeAccelerated& e) { return e.node.Get(); });
}

void KaCNodeVectorOperations::Write(const Elements& elements, CbStreamWriteBinary& stream) {
    KaCTransformationNodeSerializationIDMapper& mapper =
        KaCTransformationNodeSerializationIDMapper::GetInstance();
    stream.WriteVersion(c_version);
    stream.WriteUInt32(static_cast<uint32_t>(elements.size()));
    for (const KaCNodeAccelerated& element : elements) {
        mapper.WriteNodeByReference(stream, element.node);
        element.trafo.Serialize(stream);
        stream.WriteUInt32(c_cachedRevisions);
        stream.WriteInt64(element.nodeRevisions[0]);
        stream.WriteInt64(element.nodeRevisions[1]);
    }
}

void KaCNodeVectorOperations::Read(Elements& elements, CbStreamReadBinary& stream,
                                   const char* sourceFile, int sourceLine) {
    const uint32_t version =
        stream.ReadAcceptedVersion("node vector", {1, 2}, sourceFile, sourceLine);
    uint32_t count =
        stream.ReadCount(c_minimumElementBytes + (version == 2 ? 4 : 0), "node vector element");
    KaCTransformationNodeSerializationIDMapper& mapper =
        KaCTransformationNodeSerializationIDMapper::GetInstance();
    elements.clear();
    elements.resize(count);
    for (KaCNodeAccelerated& element : elements) {
        CbSmartPointer<KaCTransformationNode> node = mapper.ReadNodeByReference(stream);
        element.trafo.Serialize(stream);
        element = KaCNodeAccelerated(node, element.trafo);
        if (version == 2) {
            uint32_t stored = stream.ReadCount(sizeof(int64_t), "cached revision");
            for (uint32_t index = 0; index < stored; ++index) {
                int64_t revision = stream.ReadInt64();
                if (index < c_cachedRevisions) {
                    element.nodeRevisions[index] = revision;
                }
            }
        }
    }
}
