#include "transformationtree/nodevectors/KaCNodeAccelerated.h"

KaCNodeAccelerated::KaCNodeAccelerated(CbSmartPointer<const KaCTransformationNode> aNode,
                                       const CbMatrix4Rd& aTrafo)
    : node(std::move(aNode)), trafo(aTrafo) {
    deriveModel();
}

KaCNodeAccelerated::KaCNodeAccelerated(const KaCTransformationNode::KaNNodeIterator& iterator,
                                       const CbMatrix4Rd& aTrafo)
    : KaCNodeAccelerated(*iterator, aTrafo) {}

KaCNodeAccelerated::KaCNodeAccelerated(const KaCTransformationNodeWithTrafo& value,
                                       const CbMatrix4Rd& aTrafo)
    : node(value.GetNode()), trafo(value.GetTrafo() * aTrafo) {
    deriveModel();
}

void KaCNodeAccelerated::deriveModel() {
    model = node ? node->GetModel() : nullptr;
    surfelCollection =
        model ? model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard) : nullptr;
}
