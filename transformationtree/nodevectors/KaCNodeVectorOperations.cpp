#include "transformationtree/nodevectors/KaCNodeVectorOperations.h"

#include <algorithm>
#include <string>

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

template <class Iterator>
void appendWalk(KaCNodeVectorOperations::Elements& elements, Iterator it, const Iterator& end,
                const CbMatrix4Rd& trafo, unsigned int flags) {
    for (; it != end; ++it) {
        KaCNodeAccelerated& element = elements.emplace_back(it, trafo);
        for (unsigned int index = 0; index < c_cachedRevisions; ++index) {
            const unsigned int mask = c_maskOfIndex[index];
            if ((flags & mask) != 0) {
                element.nodeRevisions[index] = element.node->GetNodeRevisionSubtree(mask);
            }
        }
    }
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
            appendWalk(elements, root->BeginNode(), root->EndNode(), trafo, flags);
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
