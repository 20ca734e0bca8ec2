#include "transformationtree/organisation/KaCSessionTransformationTree.h"

KaCSessionTransformationTree::KaCSessionTransformationTree(Inner root) {
    SetRoot(std::move(root));
}
