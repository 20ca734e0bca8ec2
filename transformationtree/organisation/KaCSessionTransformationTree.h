#pragma once

#include "platform/harbor/CbReferenceCounted.h"
#include "transformationtree/organisation/KaCTransformationTree.h"

// A ready-made cluster tree for one scan session: the root it is given is also the model
// node, so the root's children are the clusters. For programs and tests that need no model
// node of their own. Shared through CbSmartPointer; thread safety as KaCTransformationTree.
class KaCSessionTransformationTree : public KaCTransformationTree, public CbReferenceCounted {
public:
    explicit KaCSessionTransformationTree(Inner root);

    Inner GetModelNode() override { return GetRoot(); }
    void ClusterLayoutChanged() override {}

protected:
    ~KaCSessionTransformationTree() override = default;
};
