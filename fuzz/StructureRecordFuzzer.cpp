// Structure records of inner nodes and leaves (the first byte chooses the class), read
// while the fixed nodes are mapped, so that father and child references resolve.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    auto fixed = FuzzSupport::MapFixedNodes();
    const wchar_t* className =
        (data[0] & 1) != 0 ? L"KaCTransformationNodeLeaf" : L"KaCTransformationNodeInner";
    CbSmartPointer<KaCTransformationNode> node = CbCreateByName<KaCTransformationNode>(className);
    CbStreamReadBinaryBuffer stream(data + 1, size - 1);
    try {
        node->SerializeStructure(stream);
    } catch (const CbException&) {
    }
    FuzzSupport::ClearMappings();
    return 0;
}
