// Attribute container records: every attribute named in the record is created by class name
// and reads its own bounded block. A container that reads must write itself again in a
// form that reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/mosaic/KaARTTIAttributeContainer.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KaARTTIAttributeContainer container;
    CbStreamReadBinaryBuffer stream(data, size);
    try {
        container.Serialize(stream);
    } catch (const CbException&) {
        return 0;
    }
    CbStreamWriteBinaryBuffer written;
    container.Serialize(written);
    KaARTTIAttributeContainer again;
    CbStreamReadBinaryBuffer rereading(written.GetData(), written.GetCount());
    try {
        again.Serialize(rereading);
    } catch (const CbException&) {
        std::abort();  // what the reader accepted was written in a form it rejects
    }
    if (auto area = container.GetAttribute<KaCImageAreaDataAttribute>()) {
        area->ToString();
    }
    if (auto jaw = container.GetAttribute<KaCJawSemanticsAttribute>()) {
        jaw->GetOcclusalDirectionEstimate();
    }
    container.ResetAttributes();
    return 0;
}
