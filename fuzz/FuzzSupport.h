#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Shared by the fuzz targets and the program that writes their seed corpora.
namespace FuzzSupport {

// Number of the fixed nodes below: a root, two inner nodes and two leaves.
constexpr int c_fixedNodes = 5;

// The ID of fixed node `index`: "00000000-0000-4000-8000-00000000000<index>".
CyUniqueID FixedId(int index);

// Fresh, unlinked nodes with the fixed IDs (0 to 2 inner nodes, 3 and 4 leaves with a
// model each), mapped in the node serialization mapper, their models in the model mapper.
// Seeds refer to them; fuzz runs resolve references to them.
std::vector<CbSmartPointer<KaCTransformationNode>> MapFixedNodes();

// Clears both serialization mappers.
void ClearMappings();

}  // namespace FuzzSupport
