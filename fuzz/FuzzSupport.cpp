#include "fuzz/FuzzSupport.h"

#include <cstdio>

#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

namespace FuzzSupport {

CyUniqueID FixedId(int index) {
    wchar_t text[40];
    std::swprintf(text, 40, L"00000000-0000-4000-8000-%012d", index);
    return CyUniqueID(std::wstring(text));
}

std::vector<CbSmartPointer<KaCTransformationNode>> MapFixedNodes() {
    auto& nodes = KaCTransformationNodeSerializationIDMapper::GetInstance();
    // Nodes get their IDs the way reading gives them: from instantiation records.
    CbStreamWriteBinaryBuffer records;
    for (int i = 0; i < c_fixedNodes; ++i) {
        records.WriteWideString(i < 3 ? L"KaCTransformationNodeInner"
                                      : L"KaCTransformationNodeLeaf");
        FixedId(i).Serialize(records);
    }
    CbStreamReadBinaryBuffer stream(records.GetBuffer());
    std::vector<CbSmartPointer<KaCTransformationNode>> fixed;
    for (int i = 0; i < c_fixedNodes; ++i) {
        fixed.push_back(nodes.ReadNodeAndInstantiate(stream));
    }
    auto& models = KaCModelSerializationIDMapper::GetInstance();
    for (int i = 3; i < c_fixedNodes; ++i) {
        auto collection =
            CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(i), 1.0f, 2.0f};
        collection->AddSurfel(surfel);
        CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(collection, true);
        models.SetModel(model->GetId(), model);
        auto& leaf = static_cast<KaCTransformationNodeLeaf&>(*fixed[static_cast<size_t>(i)]);
        leaf.RenewModel(model);
    }
    return fixed;
}

void ClearMappings() {
    KaCTransformationNodeSerializationIDMapper::GetInstance().ClearMapping();
    KaCModelSerializationIDMapper::GetInstance().ClearMapping();
}

}  // namespace FuzzSupport
