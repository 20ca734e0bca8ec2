// Records of the eight attribute classes: the first byte chooses the class, the rest is read
// with that attribute's Serialize. A record that reads must write itself again in a form
// that reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"

namespace {

// Selector values, as the seed corpus writes them.
CbSmartPointer<KaARTTIAttribute> makeAttribute(uint8_t selector) {
    switch (selector % 8) {
        case 0:
            return CbMakeShared<KaCAreaPropertiesAttribute>();
        case 1:
            return CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
        case 2:
            return CbMakeShared<KaCRepresentativeAttribute>();
        case 3:
            return CbMakeShared<KaCImageAreaDataAttribute>();
        case 4:
            return CbMakeShared<KaCRegistrationEffortLoggingAttribute>();
        case 5:
            return CbMakeShared<KaCRegistrationHintsAttribute>();
        case 6:
            return CbMakeShared<KaCDisconnectedComponentWarningAttribute>();
        default:
            return CbMakeShared<KaCJawSemanticsAttribute>();
    }
}

// Uses what was read the way the application would.
void exercise(KaARTTIAttribute& attribute) {
    if (auto* area = dynamic_cast<KaCImageAreaDataAttribute*>(&attribute)) {
        area->ToString();
        area->GetImpressionMatrix();
    } else if (auto* jaw = dynamic_cast<KaCJawSemanticsAttribute*>(&attribute)) {
        jaw->GetOcclusalDirectionEstimate();
        jaw->GetExtraoralDirectionEstimate();
    }
    attribute.ResetAttribute();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    CbSmartPointer<KaARTTIAttribute> attribute = makeAttribute(data[0]);
    CbStreamReadBinaryBuffer stream(data + 1, size - 1);
    try {
        attribute->Serialize(stream);
    } catch (const CbException&) {
        return 0;
    }
    CbStreamWriteBinaryBuffer written;
    attribute->Serialize(written);
    CbSmartPointer<KaARTTIAttribute> again = makeAttribute(data[0]);
    CbStreamReadBinaryBuffer rereading(written.GetData(), written.GetCount());
    try {
        again->Serialize(rereading);
    } catch (const CbException&) {
        std::abort();  // what a reader accepted was written in a form it rejects
    }
    exercise(*attribute);
    return 0;
}
