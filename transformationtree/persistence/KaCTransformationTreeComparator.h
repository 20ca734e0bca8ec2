#pragma once

#include <string>

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Compares two trees node by node in walk order, in everything the tree record keeps:
// kind, ID, description, relative trafo (bit for bit), both revisions, visibility, child
// count, the leaf flags that travel, the inner node's model revision stamp, the models
// (their records, byte for byte) and the attributes (their records, byte for byte). The
// cleaned-up flag, the model renewed flag and leaf time stamps do not travel and are not
// compared. Reads the trees only; callers that share them hold read access.
class KaCTransformationTreeComparator {
public:
    // Empty when the trees are equal, else a description of the first difference.
    static std::wstring FirstDifference(CbSmartPointer<const KaCTransformationNode> a,
                                        CbSmartPointer<const KaCTransformationNode> b);
};
