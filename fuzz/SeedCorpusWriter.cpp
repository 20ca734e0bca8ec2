// Writes valid records as seed inputs for the fuzz targets, one folder per target.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "transformationtree/KaCNodeVector.h"
#include "transformationtree/KaCTransformationNodeManager.h"
#include "transformationtree/KaCTransformationNodeSerializationIDMapper.h"
#include "transformationtree/KaCTransformationTreeSerializer.h"

namespace {

std::filesystem::path g_root;

void save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::path folder = g_root / target;
    std::filesystem::create_directories(folder);
    std::ofstream file(folder / (name + ".bin"), std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> withPrefix(uint8_t prefix, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> result(bytes.size() + 1);
    result[0] = prefix;
    std::copy(bytes.begin(), bytes.end(), result.begin() + 1);
    return result;
}

CbSmartPointer<KaCModelCCT> model(uint32_t surfels) {
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (uint32_t i = 0; i < surfels; ++i) {
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(i), 0.5f, -1.0f};
        collection->AddSurfel(surfel);
    }
    return KaCModelCCT::Create(collection, true);
}

void writeTreeRecords() {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateInnerNode();
    root->SetDescription(L"Root");
    CbStreamWriteBinaryBuffer single;
    KaCTransformationTreeSerializer::Write(single, root);
    save("TreeRecord", "single-root", single.GetBuffer());

    CbSmartPointer<KaCTransformationNodeInner> cluster = manager.CreateInnerNode();
    cluster->SetDescription(L"Cluster \u00e4");
    manager.AppendChild(root, cluster, true);
    CbSmartPointer<KaCModelCCT> shared = model(3);
    for (int i = 0; i < 3; ++i) {
        auto leaf = manager.CreateLeafNode(i == 2 ? model(2) : shared);
        leaf->SetDescription(L"scan " + std::to_wstring(i));
        leaf->IsKeyframe(i == 1);
        manager.AppendChild(i == 0 ? root : cluster, leaf, true);
    }
    cluster->SetModel(model(1), 4);
    CbStreamWriteBinaryBuffer small;
    KaCTransformationTreeSerializer::Write(small, root);
    save("TreeRecord", "small-tree", small.GetBuffer());
}

void writeRecordsOfFixedNodes() {
    auto fixed = FuzzSupport::MapFixedNodes();
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    auto inner = [&](int i) {
        return CbStaticCast<KaCTransformationNodeInner>(fixed[static_cast<size_t>(i)]);
    };
    manager.AppendChild(inner(0), fixed[1], true);
    manager.AppendChild(inner(0), fixed[2], true);
    manager.AppendChild(inner(1), fixed[3], true);
    manager.AppendChild(inner(1), fixed[4], true);
    for (int i : {1, 3}) {
        CbStreamWriteBinaryBuffer record;
        fixed[static_cast<size_t>(i)]->SerializeStructure(record);
        save("StructureRecord", "node-" + std::to_string(i),
             withPrefix(i == 3 ? 1 : 0, record.GetBuffer()));
    }
    KaCNodeVector vector(fixed[0], KaCNodeVector::eAllNodes, c_matIdentityD, 3);
    CbStreamWriteBinaryBuffer vectorRecord;
    vector.Serialize(vectorRecord);
    save("NodeVector", "all-nodes", vectorRecord.GetBuffer());

    auto& mapper = KaCTransformationNodeSerializationIDMapper::GetInstance();
    CbStreamWriteBinaryBuffer mixed;
    mapper.WriteNodeForInstantiation(mixed, fixed[2]);
    mapper.WriteNodeByReference(mixed, fixed[3]);
    mapper.WriteNodeForInstantiation(mixed, fixed[4]);
    save("IdMapper", "mixed",
         withPrefix(3, withPrefix(1, withPrefix(0, withPrefix(1, mixed.GetBuffer())))));
    FuzzSupport::ClearMappings();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    writeTreeRecords();
    writeRecordsOfFixedNodes();
    return 0;
}
