#include "transformationtree/KaCNodeAccelerated.h"

KaCNodeAccelerated::KaCNodeAccelerated(CbSmartPointer<const KaCTransformationNode> aNode,
                                       const CbMatrix4Rd& aTrafo)
    : node(std::move(aNode)), trafo(aTrafo) {
    deriveModel();
}

KaCNodeAccelerated::KaCNodeAccelerated(const KaCTransformationNode::KaNNodeIterator& iterator,
                                       const CbMatrix4Rd& aTrafo)
    : node(iterator.GetCurrentNode()), trafo(iterator.GetCurrentTrafo() * aTrafo) {
    deriveModel();
}

void KaCNodeAccelerated::deriveModel() {
    model = node ? node->GetModel() : nullptr;
    surfelCollection =
        model ? model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard) : nullptr;
}
