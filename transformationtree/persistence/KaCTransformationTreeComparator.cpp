#include "transformationtree/persistence/KaCTransformationTreeComparator.h"

#include <cstring>
#include <vector>

#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

namespace {

std::vector<uint8_t> modelBytes(const CbSmartPointer<const KaCModelCCT>& model) {
    CbStreamWriteBinaryBuffer stream;
    if (model) {
        model->SerializeMetaData(stream);
        model->SerializeGeometry(stream);
    }
    return stream.TakeBuffer();
}

std::vector<uint8_t> attributeBytes(const KaCTransformationNode& node) {
    CbStreamWriteBinaryBuffer stream;
    node.SerializeAttributes(stream);
    return stream.TakeBuffer();
}

std::wstring compareNodes(const KaCTransformationNode& a, const KaCTransformationNode& b) {
    if (a.IsLeaf() != b.IsLeaf()) {
        return L"kind of node";
    }
    if (a.GetID() != b.GetID()) {
        return L"ID";
    }
    if (a.GetDescription() != b.GetDescription()) {
        return L"description";
    }
    // Bit for bit, so that a stored NaN equals itself.
    if (std::memcmp(a.GetRelativeTrafo().Data(), b.GetRelativeTrafo().Data(),
                    16 * sizeof(double)) != 0) {
        return L"relative trafo";
    }
    if (a.GetNodeRevision(KaCTransformationNode::eRevisionModel) !=
            b.GetNodeRevision(KaCTransformationNode::eRevisionModel) ||
        a.GetNodeRevision(KaCTransformationNode::eRevisionTrafo) !=
            b.GetNodeRevision(KaCTransformationNode::eRevisionTrafo)) {
        return L"revisions";
    }
    if (a.IsVisible() != b.IsVisible()) {
        return L"visibility";
    }
    if (a.IsLeaf()) {
        const auto& leafA = static_cast<const KaCTransformationNodeLeaf&>(a);
        const auto& leafB = static_cast<const KaCTransformationNodeLeaf&>(b);
        if (leafA.IsKeyframe() != leafB.IsKeyframe() ||
            leafA.IsNewEntryScan() != leafB.IsNewEntryScan()) {
            return L"leaf flags";
        }
    } else {
        const auto& innerA = static_cast<const KaCTransformationNodeInner&>(a);
        const auto& innerB = static_cast<const KaCTransformationNodeInner&>(b);
        if (innerA.GetNrChildren() != innerB.GetNrChildren()) {
            return L"number of children";
        }
        if (innerA.GetModelRevision() != innerB.GetModelRevision()) {
            return L"model revision stamp";
        }
    }
    if (a.GetModel() != b.GetModel() && modelBytes(a.GetModel()) != modelBytes(b.GetModel())) {
        return L"model";
    }
    if (attributeBytes(a) != attributeBytes(b)) {
        return L"attributes";
    }
    return std::wstring();
}

}  // namespace

std::wstring KaCTransformationTreeComparator::FirstDifference(
    CbSmartPointer<const KaCTransformationNode> a, CbSmartPointer<const KaCTransformationNode> b) {
    if (!a || !b) {
        return a || b ? L"one tree is missing" : std::wstring();
    }
    auto* rootA = const_cast<KaCTransformationNode*>(a.Get());
    auto* rootB = const_cast<KaCTransformationNode*>(b.Get());
    KaCTransformationNode::KaNNodeIterator itA = rootA->BeginNode();
    KaCTransformationNode::KaNNodeIterator itB = rootB->BeginNode();
    for (; itA && itB; ++itA, ++itB) {
        const KaCTransformationNode& nodeA = *itA.GetCurrentNode();
        std::wstring difference = compareNodes(nodeA, *itB.GetCurrentNode());
        if (!difference.empty()) {
            return difference + L" of node " + nodeA.GetID().ToString() + L" (" +
                   nodeA.GetDescription() + L")";
        }
    }
    return itA || itB ? L"number of nodes" : std::wstring();
}
