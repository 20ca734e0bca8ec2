#pragma once

#include <string>

#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// Checks the values of a session tree that a session file's checksums cannot vouch for, as
// a session written by an older or another program may hold bad ones: every node's
// relative transformation is rigid (RigidTransform), and every surfel of every model (of
// every collection type) has a finite position. (Normals are stored as direction codes and
// are always finite.) Stateless.
class TreeValueCheck {
public:
    // Empty when every value is good, else the first fault found, naming the node.
    static std::string FirstFault(const CbSmartPointer<KaCTransformationNodeInner>& root);

private:
    // Empty, or how many surfels of the model's collections are not finite and the first.
    static std::string modelFault(const KaCModelCCT& model);
};
