// Whole-tree records: node instantiation, models, structure records and attributes, and
// the checks that make reading all or nothing.
#include <cstddef>
#include <cstdint>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CbStreamReadBinaryBuffer stream(data, size);
    try {
        CbSmartPointer<KaCTransformationNodeInner> root =
            KaCTransformationTreeSerializer::Read(stream, false);
        if (!root) {
            __builtin_trap();  // reading returns a tree or throws
        }
    } catch (const CbException&) {
    }
    return 0;
}
