// Writes the golden files of the persistence tests (golden/README.md lists them): a record of
// every kind the library writes and reads, with fixed IDs, revisions and values, so that every
// run writes the same bytes. Records of versions the library still reads but no longer writes
// are put together here field by field, in the order their readers read them.
//
// golden_write_files <golden folder> [--force]
//
// A file that exists is left alone and reported, unless --force is given: regenerate only
// after a deliberate format change, and only the files whose format changed.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/granary/KaCQuantizedNormalBinning.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/mosaic/KaARTTIAttributeContainer.h"
#include "tests/transformationtree/persistence/GoldenFileSupport.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

using namespace GoldenFileSupport;

namespace {

using Bytes = std::vector<uint8_t>;
using Inner = CbSmartPointer<KaCTransformationNodeInner>;
using Leaf = CbSmartPointer<KaCTransformationNodeLeaf>;

std::filesystem::path g_folder;
bool g_force = false;
int g_skipped = 0;

void save(const std::string& name, const Bytes& bytes) {
    const std::filesystem::path path = g_folder / name;
    if (std::filesystem::exists(path) && !g_force) {
        std::printf("skipped %s: it exists (--force overwrites)\n", name.c_str());
        ++g_skipped;
        return;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::printf("wrote %s (%zu bytes)\n", name.c_str(), bytes.size());
}

template <class Write>
Bytes record(Write write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    return stream.GetBuffer();
}

// Surfel i of a golden model: position (x0 + i, 0.5 i, -1), normal (0, 0, 1), colour
// (10 i, 20, 30), curvature 3 i, quality 0.5 + 0.25 i, tissue type i mod 3, boundary for i = 0.
CbSmartPointer<KaCSurfelCollectionCCT> surfels(uint32_t count, float x0) {
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(i);
        KaCSurfel surfel;
        surfel.position = {x0 + f, 0.5f * f, -1.0f};
        surfel.color = {static_cast<uint8_t>(10 * i), 20, 30};
        surfel.curvature = static_cast<uint8_t>(3 * i);
        surfel.quality = 0.5f + 0.25f * f;
        surfel.tissueType = static_cast<uint8_t>(i % 3);
        surfel.boundary = i == 0;
        collection->AddSurfel(surfel);
    }
    return collection;
}

// --- The recorded tree: Root (Cluster (scan 1, scan 2), scan 3)

struct Tree {
    Inner root, cluster;
    Leaf scan1, scan2, scan3;
};

template <class T>
CbSmartPointer<T> node(const wchar_t* id, const wchar_t* description, const CbMatrix4Rd& trafo,
                       bool visible) {
    auto made = CbStaticCast<T>(NodeWithId(std::is_same_v<T, KaCTransformationNodeLeaf>, id));
    made->SetDescription(description);
    made->SetRelativeTrafo(trafo);
    made->SetVisible(visible);
    return made;
}

void setRevisions(KaCTransformationNode& node, int64_t model, int64_t trafo) {
    node.SetNodeRevision(model, KaCTransformationNode::eRevisionModel);
    node.SetNodeRevision(trafo, KaCTransformationNode::eRevisionTrafo);
}

void addAttributes(const Tree& tree) {
    auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
    loops->SetOptimizationLoopCount(2);
    tree.cluster->SetAttribute(loops);
    auto representative = CbMakeShared<KaCRepresentativeAttribute>();
    representative->SetGridVoxel(1, 2, 3);
    tree.scan1->SetAttribute(representative);
}

Tree linkedNodes() {
    Tree tree;
    tree.root = node<KaCTransformationNodeInner>(L"00000000-0000-4000-8000-000000000001", L"Root",
                                                 Trafo(0, 0, 0, 0), true);
    tree.cluster = node<KaCTransformationNodeInner>(
        L"00000000-0000-4000-8000-000000000002", L"Cluster \u00c4", Trafo(1, 1.5, -2, 0.25), true);
    tree.scan1 = node<KaCTransformationNodeLeaf>(L"00000000-0000-4000-8000-000000000003", L"scan 1",
                                                 Trafo(2, 0, 0, 5), true);
    tree.scan2 = node<KaCTransformationNodeLeaf>(L"00000000-0000-4000-8000-000000000004", L"scan 2",
                                                 Trafo(3, -1, 0.5, 0), false);
    tree.scan3 = node<KaCTransformationNodeLeaf>(L"00000000-0000-4000-8000-000000000005", L"scan 3",
                                                 Trafo(0, 10, 20, 30), true);
    KaCTransformationNodeSerializationIDMapper::GetInstance().ClearMapping();
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    manager.AppendChild(tree.root, tree.cluster, true);
    manager.AppendChild(tree.cluster, tree.scan1, true);
    manager.AppendChild(tree.cluster, tree.scan2, true);
    manager.AppendChild(tree.root, tree.scan3, true);
    return tree;
}

void addModels(const Tree& tree) {
    tree.cluster->SetModel(
        ModelWithId(surfels(2, 100), L"00000000-0000-4000-8000-000000000102", L"Cluster \u00c4", 0),
        40);
    tree.scan1->RenewModel(
        ModelWithId(surfels(3, 0), L"00000000-0000-4000-8000-000000000103", L"scan-1.ply", 1));
    tree.scan2->RenewModel(
        ModelWithId(surfels(2, 10), L"00000000-0000-4000-8000-000000000104", L"scan-2.ply", 2));
    tree.scan3->RenewModel(
        ModelWithId(surfels(4, 20), L"00000000-0000-4000-8000-000000000105", L"scan-3.ply", 3));
}

// Last, because linking and renewing models draw revisions.
void setFlagsAndRevisions(const Tree& tree) {
    tree.scan1->IsKeyframe(true);
    tree.scan2->SetIsNewEntryScan(true);
    setRevisions(*tree.root, 11, 12);
    setRevisions(*tree.cluster, 21, 22);
    setRevisions(*tree.scan1, 31, 32);
    setRevisions(*tree.scan2, 41, 42);
    setRevisions(*tree.scan3, 51, 52);
}

Tree buildTree() {
    Tree tree = linkedNodes();
    addModels(tree);
    addAttributes(tree);
    setFlagsAndRevisions(tree);
    return tree;
}

// --- Records of older versions, field by field

// A matrix record: version 1, then the 16 values in storage order.
template <class T>
void writeMatrixVersion1(CbStreamWriteBinary& s, const CbMatrix4R<T>& matrix) {
    s.WriteUInt32(1);
    for (size_t i = 0; i < 16; ++i) {
        if constexpr (std::is_same_v<T, float>) {
            s.WriteFloat(matrix[i]);
        } else {
            s.WriteDouble(matrix[i]);
        }
    }
}

// The node base part, version 1, as KaCTransformationNode::readStructureVersion1 reads it.
void writeNodeBaseVersion1(CbStreamWriteBinary& s, const KaCTransformationNode& node) {
    s.WriteUInt32(1);
    KaCTransformationNode::GetID(node.GetFather()).Serialize(s);
    node.GetModel()->GetId().Serialize(s);
    writeMatrixVersion1(s, node.GetRelativeTrafo());
    s.WriteWideString(node.GetDescription());
    node.GetID().Serialize(s);
    s.WriteInt64(node.GetNodeRevision(KaCTransformationNode::eRevisionModel));
    s.WriteInt64(node.GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
    s.WriteBool(node.IsVisible());
}

// A leaf's structure record of version 1 (no flags) or 2 (the new-entry-scan flag).
Bytes leafRecord(const KaCTransformationNodeLeaf& leaf, uint32_t version) {
    return record([&](CbStreamWriteBinary& s) {
        writeNodeBaseVersion1(s, leaf);
        s.WriteUInt32(version);
        if (version == 2) {
            s.WriteBool(leaf.IsNewEntryScan());
        }
    });
}

// A node vector record of version 1: per element the node reference and the trafo.
Bytes nodeVectorVersion1(const KaCNodeVector& vector) {
    return record([&](CbStreamWriteBinary& s) {
        s.WriteUInt32(1);
        s.WriteUInt32(static_cast<uint32_t>(vector.size()));
        for (const KaCNodeAccelerated& element : vector) {
            KaCTransformationNode::GetID(element.node).Serialize(s);
            writeMatrixVersion1(s, element.trafo);
        }
    });
}

void writeStructureRecords(const Tree& tree) {
    save("structure-inner-v1.bin", record([&](auto& s) { tree.cluster->SerializeStructure(s); }));
    save("structure-leaf-v3.bin", record([&](auto& s) { tree.scan1->SerializeStructure(s); }));
    save("structure-leaf-v2.bin", leafRecord(*tree.scan2, 2));
    save("structure-leaf-v1.bin", leafRecord(*tree.scan3, 1));
}

void writeNodeVectors(const Tree& tree) {
    KaCNodeVector vector;
    vector.AddNode(tree.scan1, Trafo(1, 1, 2, 3));
    vector.AddNode(tree.scan2, Trafo(2, -4, 0, 0.5));
    vector.AddNode(tree.scan3, Trafo(3, 0, 0, 7));
    for (size_t i = 0; i < vector.size(); ++i) {
        vector[i].nodeRevisions[0] = 31 + 10 * static_cast<int64_t>(i);
        vector[i].nodeRevisions[1] = 32 + 10 * static_cast<int64_t>(i);
    }
    save("node-vector-v2.bin", record([&](auto& s) { vector.Serialize(s); }));
    save("node-vector-v1.bin", nodeVectorVersion1(vector));
}

// --- Attribute records

Bytes attributeRecord(const KaARTTIAttribute& attribute) {
    return record([&](CbStreamWriteBinary& s) { attribute.Serialize(s); });
}

// The fields of the image area data record of `version` (0 to 2), in the reader's order.
Bytes imageAreaRecord(uint32_t version) {
    return record([&](CbStreamWriteBinary& s) {
        s.WriteUInt32(version);
        s.WriteWideString(L"object \u00e9");
        s.WriteBool(true);
        s.WriteInt32(KaCImageAreaDataAttribute::eCorrelationLevelFine);
        writeMatrixVersion1(s, CbMatrix4Rf(Trafo(1, 1, 2, 3)));
        s.WriteFloat(0.125f);
        s.WriteBool(true);
        writeMatrixVersion1(s, CbMatrix4Rf(Trafo(2, 0, 0, -4)));
        s.WriteBool(true);
        s.WriteInt64(61);
        s.WriteWideString(L"state guid");
        s.WriteInt64(62);
        if (version >= 1) {
            s.WriteInt64(63);
            s.WriteInt64(64);
        }
        if (version >= 2) {
            s.WriteInt64(1700000000);
        }
    });
}

CbSmartPointer<KaCImageAreaDataAttribute> imageArea() {
    auto area = CbMakeShared<KaCImageAreaDataAttribute>();
    area->SetCorrelationObjectID(L"object \u00e9");
    area->SetIsCorrelated(true);
    area->SetCorrelationLevel(KaCImageAreaDataAttribute::eCorrelationLevelFine);
    area->SetCorrelationTrafo(CbMatrix4Rf(Trafo(1, 1, 2, 3)));
    area->SetCorrelationError(0.125f);
    area->SetIsJawRelaxed(true);
    area->SetJawRelaxationTrafo(CbMatrix4Rf(Trafo(2, 0, 0, -4)));
    area->SetIsImpressionScan(true);
    area->SetLastNodeRevisionState(61);
    area->SetLastGUIDState(L"state guid");
    area->SetLastGUIDRevisionState(62);
    area->SetLastAreaCorrelationRevision(63);
    area->SetLastRefAreaCorrelationRevision(64);
    area->SetTimeChanged(1700000000);
    area->SetLastNodeRevisionData(65);
    area->SetLastGUIDData(L"data guid");
    area->SetLastGUIDRevisionData(66);
    area->SetLastGUIDCorr(L"corr guid");
    return area;
}

// The legacy values and the time stamp log have no setters: they come from a record of
// version 1, put together here.
CbSmartPointer<KaARTTIAttribute> effortLogging() {
    Bytes bytes = record([](CbStreamWriteBinary& s) {
        s.WriteUInt32(1);
        for (uint32_t legacy : {5u, 6u, 1u, 2u}) {
            s.WriteUInt32(legacy);
        }
        for (double value : {3.5, 4.5, 0.0, 0.0, 0.0, 0.75, 0.25}) {
            s.WriteDouble(value);
        }
        s.WriteWideString(L"@0.0 (0.0) start\n@1.5 (1.5) icp\n");
        // Three sub-tasks, in ascending name order as the map writes them, whatever the
        // order of its hash table.
        s.WriteUInt32(0);
        s.WriteUInt32(3);
        for (const auto& [name, seconds] :
             {std::pair{L"align", 0.5}, {L"icp", 1.5}, {L"merge", 2.5}}) {
            s.WriteWideString(name);
            s.WriteDouble(seconds);
        }
    });
    auto effort = CbMakeShared<KaCRegistrationEffortLoggingAttribute>();
    CbStreamReadBinaryBuffer stream(bytes);
    static_cast<KaARTTIAttribute&>(*effort).Serialize(stream);
    return effort;
}

CbSmartPointer<KaCJawSemanticsAttribute> jawSemantics() {
    KaCQuantizedNormalBinning occlusal;
    occlusal.AddNormal({0.0f, 0.6f, 0.8f}, 4);
    occlusal.AddNormal({0.0f, 0.0f, 1.0f}, 1);
    KaCQuantizedNormalBinning extraoral;
    extraoral.AddNormal({1.0f, 0.0f, 0.2f}, 3);
    auto jaw = CbMakeShared<KaCJawSemanticsAttribute>();
    jaw->SetOcclusalDirectionBinning(occlusal);
    jaw->SetExtraoralDirectionBinning(extraoral);
    jaw->SetOcclusalDirectionBinningRevision(77);
    return jaw;
}

void writeAttributeRecords() {
    auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
    loops->SetOptimizationLoopCount(7);
    auto representative = CbMakeShared<KaCRepresentativeAttribute>();
    representative->SetGridVoxel(4, -7, 19);
    auto hints = CbMakeShared<KaCRegistrationHintsAttribute>();
    hints->SetRegistrationHintSurfelCollection(surfels(3, 40));
    hints->SetDisplayMode(KaCRegistrationHintsAttribute::eDisplayModeOverlay);
    auto warning = CbMakeShared<KaCDisconnectedComponentWarningAttribute>();
    warning->SetWarningSurfelCollection(surfels(2, 50));

    save("attribute-area-properties.bin", attributeRecord(KaCAreaPropertiesAttribute()));
    save("attribute-loop-count.bin", attributeRecord(*loops));
    save("attribute-representative.bin", attributeRecord(*representative));
    save("attribute-image-area-data-v3.bin", attributeRecord(*imageArea()));
    for (uint32_t version : {0u, 1u, 2u}) {
        save("attribute-image-area-data-v" + std::to_string(version) + ".bin",
             imageAreaRecord(version));
    }
    save("attribute-effort-logging.bin", attributeRecord(*effortLogging()));
    save("attribute-registration-hints.bin", attributeRecord(*hints));
    save("attribute-disconnected-warning.bin", attributeRecord(*warning));
    save("attribute-jaw-semantics.bin", attributeRecord(*jawSemantics()));
}

void writeAttributeContainer() {
    auto representative = CbMakeShared<KaCRepresentativeAttribute>();
    representative->SetGridVoxel(-1, 0, 1);
    auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
    loops->SetOptimizationLoopCount(5);
    KaARTTIAttributeContainer container;
    container.SetAttribute(representative);
    container.SetAttribute(loops);
    container.SetAttribute(CbMakeShared<KaCAreaPropertiesAttribute>());
    save("attribute-container.bin", record([&](auto& s) { container.Serialize(s); }));
}

// A session file of version 1: no header checksum, section checksums over the payload only.
Bytes sessionVersion1(const Bytes& tree, const KaCSessionFile::Properties& properties) {
    const Bytes values = record([&](CbStreamWriteBinary& s) {
        s.WriteUInt32(static_cast<uint32_t>(properties.size()));
        for (const auto& [key, value] : properties) {
            s.WriteWideString(key);
            s.WriteWideString(value);
        }
    });
    return record([&](CbStreamWriteBinary& s) {
        s.WriteBuffer("TTREESES", 8);
        s.WriteUInt32(1);
        s.WriteUInt32(2);
        for (const auto& [type, payload] : {std::pair{1u, &tree}, {2u, &values}}) {
            s.WriteUInt32(type);
            s.WriteUInt64(payload->size());
            s.WriteUInt32(static_cast<uint32_t>(
                crc32(0, payload->data(), static_cast<uInt>(payload->size()))));
            s.WriteBuffer(payload->data(), payload->size());
        }
    });
}

void writeTreeAndSession(const Tree& tree) {
    const Bytes treeRecord =
        record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    const KaCSessionFile::Properties properties = {{L"created by", L"golden file writer"},
                                                   {L"patient", L"anonymous \u00e9"}};
    save("tree.bin", treeRecord);
    save("session.ttree", sessionVersion1(treeRecord, properties));
    save("session-v2.ttree", KaCSessionFile::Encode(tree.root, properties));
}

}  // namespace

int main(int argc, char** argv) {
    g_force = argc == 3 && std::strcmp(argv[2], "--force") == 0;
    if (argc != 2 && !g_force) {
        std::fprintf(stderr, "usage: %s <golden folder> [--force]\n", argv[0]);
        return 2;
    }
    g_folder = argv[1];
    if (!std::filesystem::is_directory(g_folder)) {
        std::fprintf(stderr, "%s is not a folder\n", argv[1]);
        return 2;
    }
    const Tree tree = buildTree();
    writeStructureRecords(tree);
    writeNodeVectors(tree);
    writeAttributeRecords();
    writeAttributeContainer();
    writeTreeAndSession(tree);
    if (g_skipped > 0) {
        std::printf("%d files kept; run with --force to overwrite them\n", g_skipped);
    }
    return 0;
}
