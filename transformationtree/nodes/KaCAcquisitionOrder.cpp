#include "transformationtree/nodes/KaCAcquisitionOrder.h"

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
