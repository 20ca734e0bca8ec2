// Writes valid records as seed inputs for the fuzz targets, one folder per target:
// fuzz_write_seeds <corpus folder> [--force]. Seeds that exist are kept unless --force is
// given; the program lists what it wrote and what it kept.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/granary/KaCSurfel.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/mosaic/KaARTTIAttributeContainer.h"
#include "tools/ttree/PlyFile.h"
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
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

namespace {

std::filesystem::path g_root;
bool g_force = false;
int g_skipped = 0;

// Writes one seed. A seed that exists is kept, so that no run replaces a checked-in seed
// unnoticed, unless --force was given.
void save(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::filesystem::path folder = g_root / target;
    std::filesystem::create_directories(folder);
    const std::filesystem::path path = folder / (name + ".bin");
    const std::string shown = target + "/" + name + ".bin";
    if (std::filesystem::exists(path) && !g_force) {
        std::printf("skipped %s: it exists (--force overwrites)\n", shown.c_str());
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
    std::printf("wrote %s (%zu bytes)\n", shown.c_str(), bytes.size());
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

// One valid record of every attribute class, prefixed with the selector of the
// AttributeRecord target; a hints record whose collection class is unknown; and a
// container holding several attributes.
void writeAttributeRecords() {
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (int i = 0; i < 4; ++i) {
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(i), -0.5f, 2.0f};
        collection->AddSurfel(surfel);
    }
    auto area = CbMakeShared<KaCAreaPropertiesAttribute>();
    auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
    loops->SetOptimizationLoopCount(3);
    auto representative = CbMakeShared<KaCRepresentativeAttribute>();
    representative->SetGridVoxel(1, -2, 3);
    auto imageArea = CbMakeShared<KaCImageAreaDataAttribute>();
    imageArea->SetIsCorrelated(true);
    imageArea->SetCorrelationTrafo(CbMatrix4Rf::Translation(1.0f, 2.0f, 3.0f));
    imageArea->SetLastGUIDState(L"state");
    imageArea->SetLastGUIDCorr(L"corr");
    auto effort = CbMakeShared<KaCRegistrationEffortLoggingAttribute>();
    effort->SetMaxNewtonError(0.5);
    effort->AddTimeStamp(L"start");
    effort->AddSubTaskDuration(L"icp", 1.5);
    effort->AddSubTaskDuration(L"merge", 0.25);
    auto hints = CbMakeShared<KaCRegistrationHintsAttribute>();
    hints->SetRegistrationHintSurfelCollection(collection);
    hints->SetDisplayMode(KaCRegistrationHintsAttribute::eDisplayModeHighlight);
    auto warning = CbMakeShared<KaCDisconnectedComponentWarningAttribute>();
    warning->SetWarningSurfelCollection(collection);
    auto jaw = CbMakeShared<KaCJawSemanticsAttribute>();
    KaCQuantizedNormalBinning binning;
    binning.AddNormal({0.0f, 0.6f, 0.8f}, 4);
    jaw->SetOcclusalDirectionBinning(binning);
    jaw->GetOcclusalDirectionEstimate();

    const std::vector<std::pair<std::string, CbSmartPointer<KaARTTIAttribute>>> attributes = {
        {"area-properties", area},          {"loop-count", loops},
        {"representative", representative}, {"image-area-data", imageArea},
        {"effort-logging", effort},         {"registration-hints", hints},
        {"disconnected-warning", warning},  {"jaw-semantics", jaw}};
    for (size_t i = 0; i < attributes.size(); ++i) {
        CbStreamWriteBinaryBuffer record;
        attributes[i].second->Serialize(record);
        save("AttributeRecord", attributes[i].first,
             withPrefix(static_cast<uint8_t>(i), record.GetBuffer()));
    }

    CbStreamWriteBinaryBuffer unknown;
    unknown.WriteVersion(1);
    unknown.WriteUInt32(2);
    unknown.WriteBool(true);
    unknown.WriteWideString(L"UnknownSurfelCollection");
    unknown.WriteUInt32(3);
    unknown.WriteBuffer("abc", 3);
    save("AttributeRecord", "hints-unknown-collection", withPrefix(5, unknown.GetBuffer()));

    KaARTTIAttributeContainer container;
    for (size_t i : {3, 4, 5, 7, 2}) {
        container.SetAttribute(attributes[i].second);
    }
    CbStreamWriteBinaryBuffer containerRecord;
    container.Serialize(containerRecord);
    save("AttributeContainer", "several", containerRecord.GetBuffer());
}

std::vector<uint8_t> text(const std::string& characters) {
    return std::vector<uint8_t>(characters.begin(), characters.end());
}

}  // namespace

void writeFilesOfTheProgram() {
    auto surfels =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (int i = 0; i < 4; ++i) {
        KaCSurfel surfel;
        surfel.position = {static_cast<float>(i), 1.5f, -2.0f};
        surfel.color = {10, 20, static_cast<uint8_t>(30 * i)};
        surfels->AddSurfel(surfel);
    }
    save("Ply", "ascii", PlyFile::Encode(*surfels, PlyFile::eAscii));
    save("Ply", "little-endian", PlyFile::Encode(*surfels, PlyFile::eBinaryLittleEndian));
    save("Ply", "big-endian", PlyFile::Encode(*surfels, PlyFile::eBinaryBigEndian));
    save("Ply", "ascii-not-finite",
         text("ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
              "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
              "end_header\n0 0 0 0 0 1\nnan 1 2 0 0 1\n3 4 5 0 inf 1\n"));

    // The first byte of a pose file input chooses the convention (bit 0: columns) and the
    // handling of duplicates (bit 1: skipped), as PoseFileFuzzer reads it.
    auto poses = [](char mode, const std::string& lines) { return text(mode + lines); };
    const std::string row = " 0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1";
    const std::string column = " 0 -1 0 10 1 0 0 0 0 0 1 0 0 0 0 1";
    save("PoseFile", "row", poses(0, "# scan pose\na.ply" + row + "\nb.ply" + row + " # b\n"));
    save("PoseFile", "column", poses(1, "a.ply" + column + "\r\nb.ply" + column + "\r\n"));
    save("PoseFile", "acquisition",
         poses(2, "a.ply" + row + " 1000 50.0 0\nb.ply" + row + " 1003 50.15 0\nc.ply" + row +
                      " 1010 50.5 2\na.ply" + row + " 1011 51 2\n"));

    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateInnerNode();
    auto leaf = manager.CreateLeafNode(model(2));
    manager.AppendChild(root, leaf, true);
    // The folder also keeps two files of the first container version (first-version*.bin),
    // written before version 2, so that the reader of old files is fuzzed too.
    std::vector<uint8_t> session = KaCSessionFile::Encode(root, {{L"created by", L"seed writer"}});
    save("SessionFile", "as-written", withPrefix(0, session));
    save("SessionFile", "checksums-recomputed", withPrefix(1, session));

    // Any bytes describe a tree; a few of different lengths to start from.
    std::mt19937 random(7);
    for (size_t length : {16u, 120u, 600u}) {
        std::vector<uint8_t> bytes(length);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        save("TreeRoundTrip", "random-" + std::to_string(length), bytes);
    }
}

int main(int argc, char** argv) {
    g_force = argc == 3 && std::strcmp(argv[2], "--force") == 0;
    if (argc != 2 && !g_force) {
        std::fprintf(stderr, "usage: %s <corpus folder> [--force]\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    writeTreeRecords();
    writeRecordsOfFixedNodes();
    writeAttributeRecords();
    writeFilesOfTheProgram();
    if (g_skipped > 0) {
        std::printf("%d seeds kept; run with --force to overwrite them\n", g_skipped);
    }
    return 0;
}
