#pragma once

#include <cstdint>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNode.h"
#include "transformationtree/nodes/KaCTransformationNodeWithTrafo.h"

// One node of a subtree flattened into a node vector, with what consumers would otherwise
// look up again on every use: the node's model, the model's surfel collection of type 2,
// the node's transformation into the vector's frame and two cached revisions (index 0 the
// model revision, index 1 the transformation revision; -1 when not taken). Model and
// collection are derived from the node when the element is made and not refreshed.
//
// A plain value with public fields; copies share the three references.
class KaCNodeAccelerated {
public:
    // All references null, revisions -1, trafo the identity.
    KaCNodeAccelerated() = default;
    // `node` with `trafo` as given.
    KaCNodeAccelerated(CbSmartPointer<const KaCTransformationNode> node, const CbMatrix4Rd& trafo);
    // The iterator's current value (*iterator: throws CyExceptionNotInvertible when the
    // father's accumulated transformation is singular) with (its transformation) × `trafo`.
    KaCNodeAccelerated(const KaCTransformationNode::KaNNodeIterator& iterator,
                       const CbMatrix4Rd& trafo);

    CbSmartPointer<const KaCTransformationNode> node;
    CbSmartPointer<const KaCModelCCT> model;
    CbSmartPointer<const KaCSurfelCollectionCCT> surfelCollection;
    CbMatrix4Rd trafo;
    int64_t nodeRevisions[2] = {-1, -1};

private:
    KaCNodeAccelerated(const KaCTransformationNodeWithTrafo& value, const CbMatrix4Rd& trafo);
    void deriveModel();
};
