#include "transformationtree/nodes/KaCAcquisitionOrder.h"

#include <algorithm>
#include <limits>

#include "transformationtree/nodes/KaCTransformationNode.h"

uint64_t KaCAcquisitionOrder::SequenceNumber(const KaCTransformationNode& node) {
    CbSmartPointer<const KaCModelCCT> model = node.GetModel();
    return model ? model->GetAcquireSequenceNumber() : std::numeric_limits<uint64_t>::max();
}

bool KaCAcquisitionOrder::operator()(const KaCTransformationNode& a,
                                     const KaCTransformationNode& b) const {
    const uint64_t sa = SequenceNumber(a);
    const uint64_t sb = SequenceNumber(b);
    return sa != sb ? sa < sb : a.GetID() < b.GetID();
}

namespace {

// An element's place in acquisition order, read from its node once. The index breaks the
// remaining ties: between elements without node, and between elements of the same node.
struct Key {
    uint64_t sequenceNumber;
    CyUniqueID id;
    size_t index;
    bool withoutNode;

    bool operator<(const Key& other) const {
        if (withoutNode != other.withoutNode) {
            return other.withoutNode;
        }
        if (sequenceNumber != other.sequenceNumber) {
            return sequenceNumber < other.sequenceNumber;
        }
        if (id != other.id) {
            return id < other.id;
        }
        return index < other.index;
    }
};

}  // namespace

std::vector<size_t> KaCAcquisitionOrder::SortedOrder(
    const std::vector<const KaCTransformationNode*>& nodes) {
    std::vector<Key> keys;
    keys.reserve(nodes.size());
    for (size_t index = 0; index < nodes.size(); ++index) {
        const KaCTransformationNode* node = nodes[index];
        if (node != nullptr) {
            keys.push_back({SequenceNumber(*node), node->GetID(), index, false});
        } else {
            keys.push_back({0, CyUniqueID::GetInvalidID(), index, true});
        }
    }
    std::sort(keys.begin(), keys.end());
    std::vector<size_t> order;
    order.reserve(keys.size());
    for (const Key& key : keys) {
        order.push_back(key.index);
    }
    return order;
}
