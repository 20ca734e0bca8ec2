#pragma once

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"

// What a Python SessionTree object holds: a strong reference to the library's session tree,
// which holds its root strongly; the tree's nodes stay alive while the object exists.
struct SessionTreeHandle {
    CbSmartPointer<KaCSessionTransformationTree> tree;
};
