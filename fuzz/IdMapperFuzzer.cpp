// Node-for-instantiation and node-by-reference records in any mix: each byte of the
// input's first part picks the next record kind, the rest is the records.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    auto& mapper = KaCTransformationNodeSerializationIDMapper::GetInstance();
    size_t kinds = data[0] % 16;
    if (kinds + 1 > size) {
        return 0;
    }
    CbStreamReadBinaryBuffer stream(data + 1 + kinds, size - 1 - kinds);
    try {
        for (size_t i = 0; i < kinds; ++i) {
            if ((data[1 + i] & 1) != 0) {
                mapper.ReadNodeAndInstantiate(stream);
            } else {
                mapper.ReadNodeByReference(stream);
            }
        }
    } catch (const CbException&) {
    }
    FuzzSupport::ClearMappings();
    return 0;
}
