// Node vector records (versions 1 and 2), read while the fixed nodes are mapped.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto fixed = FuzzSupport::MapFixedNodes();
    KaCNodeVector vector;
    CbStreamReadBinaryBuffer stream(data, size);
    try {
        vector.Serialize(stream);
        vector.SortBySequenceNumber();
        vector.GetDepthImageVector();
    } catch (const CbException&) {
    }
    FuzzSupport::ClearMappings();
    return 0;
}
