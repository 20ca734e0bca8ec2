// Golden files: checked-in records of every kind the library writes and reads (golden/README.md
// says what each holds and how it was made). Every file must read completely and hold the
// values listed here; a file of the current version must also come out of the writer byte for
// byte. A change of a record format, deliberate or not, fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinaryFile.h"
#include "tests/support/TreeTestSupport.h"
#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "tests/transformationtree/persistence/GoldenFileSupport.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCDisconnectedComponentWarningAttribute.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

using namespace TreeTestSupport;
using namespace GoldenFileSupport;

namespace {

using Bytes = std::vector<uint8_t>;
// Reads a golden file, checks what it holds, and returns what writing that gives.
using Check = std::function<Bytes(const Bytes& file)>;

struct GoldenFile {
    std::string name;
    bool current;  // of the versions the library writes today: must be written byte for byte
    Check check;
};

const std::filesystem::path c_folder = TT_GOLDEN_DIR;

constexpr const wchar_t* c_none = L"00000000-0000-0000-0000-000000000000";
constexpr const wchar_t* c_root = L"00000000-0000-4000-8000-000000000001";
constexpr const wchar_t* c_cluster = L"00000000-0000-4000-8000-000000000002";
constexpr const wchar_t* c_scan1 = L"00000000-0000-4000-8000-000000000003";
constexpr const wchar_t* c_scan2 = L"00000000-0000-4000-8000-000000000004";
constexpr const wchar_t* c_scan3 = L"00000000-0000-4000-8000-000000000005";

// Rotation by quarter turns about z, then translation (see GoldenFileSupport::Trafo).
struct Placement {
    int quarterTurns = 0;
    double x = 0, y = 0, z = 0;
};

struct ExpectedModel {
    const wchar_t* id = c_none;
    const wchar_t* filename = L"";
    uint64_t sequenceNumber = 0;
    uint32_t surfels = 0;
    float x0 = 0;  // x of the first surfel
};

struct ExpectedNode {
    const wchar_t* id = c_none;
    const wchar_t* father = c_none;
    bool leaf = false;
    const wchar_t* description = L"";
    Placement trafo{};
    int64_t modelRevision = -1, trafoRevision = -1;
    bool visible = false;
    int64_t modelStamp = -1;                 // inner nodes
    std::vector<const wchar_t*> children{};  // inner nodes
    bool newEntryScan = false, keyframe = false;
    ExpectedModel model{};
    int loopCount = -1;            // -1: no loop count attribute
    std::vector<int> gridVoxel{};  // empty: no representative attribute
};

// The tree of tree.bin and session.ttree, in walk order; the structure records are records of
// its nodes.
const std::vector<ExpectedNode> c_tree = {
    {.id = c_root,
     .description = L"Root",
     .modelRevision = 11,
     .trafoRevision = 12,
     .visible = true,
     .children = {c_cluster, c_scan3}},
    {.id = c_cluster,
     .father = c_root,
     .description = L"Cluster \u00c4",
     .trafo = {1, 1.5, -2, 0.25},
     .modelRevision = 21,
     .trafoRevision = 22,
     .visible = true,
     .modelStamp = 40,
     .children = {c_scan1, c_scan2},
     .model = {L"00000000-0000-4000-8000-000000000102", L"Cluster \u00c4", 0, 2, 100},
     .loopCount = 2},
    {.id = c_scan1,
     .father = c_cluster,
     .leaf = true,
     .description = L"scan 1",
     .trafo = {2, 0, 0, 5},
     .modelRevision = 31,
     .trafoRevision = 32,
     .visible = true,
     .keyframe = true,
     .model = {L"00000000-0000-4000-8000-000000000103", L"scan-1.ply", 1, 3, 0},
     .gridVoxel = {1, 2, 3}},
    {.id = c_scan2,
     .father = c_cluster,
     .leaf = true,
     .description = L"scan 2",
     .trafo = {3, -1, 0.5, 0},
     .modelRevision = 41,
     .trafoRevision = 42,
     .newEntryScan = true,
     .model = {L"00000000-0000-4000-8000-000000000104", L"scan-2.ply", 2, 2, 10}},
    {.id = c_scan3,
     .father = c_root,
     .leaf = true,
     .description = L"scan 3",
     .trafo = {0, 10, 20, 30},
     .modelRevision = 51,
     .trafoRevision = 52,
     .visible = true,
     .model = {L"00000000-0000-4000-8000-000000000105", L"scan-3.ply", 3, 4, 20}},
};

template <class Write>
Bytes record(Write write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    return stream.GetBuffer();
}

void clearMappings() {
    KaCTransformationNodeSerializationIDMapper::GetInstance().ClearMapping();
    KaCModelSerializationIDMapper::GetInstance().ClearMapping();
}

::testing::AssertionResult sameBytes(const Bytes& expected, const Bytes& actual) {
    auto [e, a] = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    if (e == expected.end() && a == actual.end()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "written " << actual.size() << " bytes, the file has " << expected.size()
           << "; first difference at byte " << (e - expected.begin());
}

::testing::AssertionResult samePlace(const Placement& expected, const CbMatrix4Rd& actual) {
    return Near(Trafo(expected.quarterTurns, expected.x, expected.y, expected.z), actual, 0.0);
}

// --- Trees, nodes, models and surfels

// Surfel i of a golden collection: position (x0 + i, 0.5 i, -1), normal (0, 0, 1), colour
// (10 i, 20, 30), curvature 3 i, quality 0.5 + 0.25 i, tissue type i mod 3, boundary for i = 0.
void expectSurfels(const CySurfelCollectionBase* collection, uint32_t count, float x0) {
    const auto* surfels = dynamic_cast<const KaCSurfelCollectionCCT*>(collection);
    ASSERT_NE(surfels, nullptr);
    ASSERT_EQ(surfels->GetNrSurfels(), count);
    EXPECT_EQ(surfels->GetAttributeSet(), KaCSurfelContainer::eSurfelAttributeSetFull);
    for (uint32_t i = 0; i < count; ++i) {
        const float f = static_cast<float>(i);
        const KaCSurfel surfel = surfels->GetSurfel(i);
        EXPECT_EQ(surfel.position, CbVector3f(x0 + f, 0.5f * f, -1.0f)) << "surfel " << i;
        EXPECT_NEAR(surfel.normal.z, 1.0f, 1e-4f);
        EXPECT_EQ(surfel.color, KaCCompressedColor(static_cast<uint8_t>(10 * i), 20, 30));
        EXPECT_EQ(static_cast<uint32_t>(surfel.curvature), 3 * i);
        EXPECT_EQ(surfel.quality, 0.5f + 0.25f * f);
        EXPECT_EQ(static_cast<uint32_t>(surfel.tissueType), i % 3);
        EXPECT_EQ(surfel.boundary, i == 0);
    }
}

std::wstring modelId(const KaCTransformationNode& node) {
    return node.GetModel() ? node.GetModel()->GetId().ToString() : c_none;
}

void expectModel(const KaCTransformationNode& node, const ExpectedModel& expected) {
    CbSmartPointer<const KaCModelCCT> model = node.GetModel();
    if (!model) {
        return;  // modelId said whether there should be one
    }
    EXPECT_EQ(model->GetFilename(), expected.filename);
    EXPECT_EQ(model->GetAcquireSequenceNumber(), expected.sequenceNumber);
    expectSurfels(model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard).Get(),
                  expected.surfels, expected.x0);
}

// What a structure record holds (the model by its ID only).
void expectStructure(const KaCTransformationNode& node, const ExpectedNode& expected) {
    EXPECT_EQ(node.GetID().ToString(), expected.id);
    EXPECT_EQ(KaCTransformationNode::GetID(node.GetFather()).ToString(), expected.father);
    EXPECT_EQ(modelId(node), expected.model.id);
    EXPECT_TRUE(samePlace(expected.trafo, node.GetRelativeTrafo()));
    EXPECT_EQ(node.GetDescription(), expected.description);
    EXPECT_EQ(node.GetNodeRevision(KaCTransformationNode::eRevisionModel), expected.modelRevision);
    EXPECT_EQ(node.GetNodeRevision(KaCTransformationNode::eRevisionTrafo), expected.trafoRevision);
    EXPECT_EQ(node.IsVisible(), expected.visible);
    ASSERT_EQ(node.IsLeaf(), expected.leaf);
    if (node.IsLeaf()) {
        const auto& leaf = static_cast<const KaCTransformationNodeLeaf&>(node);
        EXPECT_EQ(leaf.IsNewEntryScan(), expected.newEntryScan);
        EXPECT_EQ(leaf.IsKeyframe(), expected.keyframe);
        return;
    }
    const auto& inner = static_cast<const KaCTransformationNodeInner&>(node);
    EXPECT_EQ(inner.GetModelRevision(), expected.modelStamp);
    std::vector<std::wstring> children;
    for (const Node& child : inner.GetChildren()) {
        children.push_back(child->GetID().ToString());
    }
    EXPECT_EQ(children,
              std::vector<std::wstring>(expected.children.begin(), expected.children.end()));
}

void expectAttributes(const KaCTransformationNode& node, const ExpectedNode& expected) {
    const KaARTTIAttributeContainer& attributes = node.GetAllAttributes();
    EXPECT_EQ(attributes.GetCount(),
              static_cast<size_t>(expected.loopCount >= 0) + !expected.gridVoxel.empty());
    if (auto loops = attributes.GetAttribute<KaCBackgroundOptimizationLoopCountAttribute>()) {
        EXPECT_EQ(static_cast<int>(loops->GetOptimizationLoopCount()), expected.loopCount);
    }
    if (auto representative = attributes.GetAttribute<KaCRepresentativeAttribute>()) {
        std::vector<int> voxel(3);
        representative->GetGridVoxel(voxel[0], voxel[1], voxel[2]);
        EXPECT_EQ(voxel, expected.gridVoxel);
    }
}

void expectTree(KaCTransformationNodeInner& root) {
    std::vector<KaCTransformationNode*> nodes;
    for (auto it = root.BeginNode(); it; ++it) {
        nodes.push_back(it.GetCurrentNode());
    }
    ASSERT_EQ(nodes.size(), c_tree.size());
    for (size_t i = 0; i < nodes.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "node " << i);
        expectStructure(*nodes[i], c_tree[i]);
        expectModel(*nodes[i], c_tree[i].model);
        expectAttributes(*nodes[i], c_tree[i]);
    }
}

// A structure record of one node of the tree, read while its father, its children and its
// model (by ID, without surfels) are mapped.
Check structureRecord(const ExpectedNode& expected) {
    return [&expected](const Bytes& file) {
        clearMappings();
        NodeWithId(false, expected.father);
        for (const wchar_t* child : expected.children) {
            NodeWithId(true, child);
        }
        KaCModelSerializationIDMapper::GetInstance().SetModel(
            CyUniqueID(expected.model.id), ModelWithId(nullptr, expected.model.id, L"", 0));
        Node node = CbCreateByName<KaCTransformationNode>(
            expected.leaf ? L"KaCTransformationNodeLeaf" : L"KaCTransformationNodeInner");
        CbStreamReadBinaryBuffer stream(file);
        node->SerializeStructure(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        expectStructure(*node, expected);
        Bytes written = record([&](auto& s) { node->SerializeStructure(s); });
        clearMappings();
        return written;
    };
}

Bytes treeRecord(const Bytes& file) {
    CbStreamReadBinaryBuffer stream(file);
    Inner root = KaCTransformationTreeSerializer::Read(stream, false);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    expectTree(*root);
    return record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, root); });
}

Bytes sessionFile(const Bytes& file) {
    KaCSessionFile::Contents contents = KaCSessionFile::ReadFromMemory(file, "session", false);
    EXPECT_EQ(contents.properties,
              (KaCSessionFile::Properties{{L"created by", L"golden file writer"},
                                          {L"patient", L"anonymous \u00e9"}}));
    expectTree(*contents.root);
    return KaCSessionFile::Encode(contents.root, contents.properties);
}

// --- Node vectors: the three leaves with their trafos and, from version 2 on, revisions.

struct ExpectedElement {
    const wchar_t* node;
    Placement trafo{};
    int64_t revisions[2];
};
const ExpectedElement c_vector[] = {{c_scan1, {1, 1, 2, 3}, {31, 32}},
                                    {c_scan2, {2, -4, 0, 0.5}, {41, 42}},
                                    {c_scan3, {3, 0, 0, 7}, {51, 52}}};

Check nodeVector(bool withRevisions) {
    return [withRevisions](const Bytes& file) {
        clearMappings();
        for (const ExpectedElement& element : c_vector) {
            NodeWithId(true, element.node);
        }
        KaCNodeVector vector;
        CbStreamReadBinaryBuffer stream(file);
        vector.Serialize(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        EXPECT_EQ(vector.size(), std::size(c_vector));
        for (size_t i = 0; i < std::min(vector.size(), std::size(c_vector)); ++i) {
            const ExpectedElement& expected = c_vector[i];
            EXPECT_EQ(KaCTransformationNode::GetID(vector[i].node).ToString(), expected.node);
            EXPECT_TRUE(samePlace(expected.trafo, vector[i].trafo));
            EXPECT_EQ(vector[i].nodeRevisions[0], withRevisions ? expected.revisions[0] : -1);
            EXPECT_EQ(vector[i].nodeRevisions[1], withRevisions ? expected.revisions[1] : -1);
        }
        Bytes written = record([&](auto& s) { vector.Serialize(s); });
        clearMappings();
        return written;
    };
}

// --- Attribute records

// Reads the record into a new T, writes it again, then checks what was read (checks may use
// getters that compute and cache).
template <class T>
Check attribute(std::function<void(const T&)> expect) {
    return [expect](const Bytes& file) {
        auto read = CbMakeShared<T>();
        EXPECT_EQ(AttributeTestSupport::Read(*read, file), 0u);
        Bytes written = AttributeTestSupport::Write(*read);
        if (expect) {
            expect(*read);
        }
        return written;
    };
}

void expectImageArea(const KaCImageAreaDataAttribute& area, uint32_t version) {
    EXPECT_EQ(area.GetCorrelationObjectID(), L"object \u00e9");
    EXPECT_TRUE(area.GetIsCorrelated());
    EXPECT_EQ(area.GetCorrelationLevel(), KaCImageAreaDataAttribute::eCorrelationLevelFine);
    EXPECT_EQ(area.GetCorrelationTrafo(), CbMatrix4Rf(Trafo(1, 1, 2, 3)));
    EXPECT_EQ(area.GetCorrelationError(), 0.125f);
    EXPECT_TRUE(area.GetIsJawRelaxed());
    EXPECT_EQ(area.GetJawRelaxationTrafo(), CbMatrix4Rf(Trafo(2, 0, 0, -4)));
    EXPECT_TRUE(area.GetIsImpressionScan());
    EXPECT_EQ(area.GetLastNodeRevisionState(), 61);
    EXPECT_EQ(area.GetLastGUIDState(), L"state guid");
    EXPECT_EQ(area.GetLastGUIDRevisionState(), 62);
    // Version 0 has no area correlation revisions: a correlated area gets -2.
    EXPECT_EQ(area.GetLastAreaCorrelationRevision(), version >= 1 ? 63 : -2);
    EXPECT_EQ(area.GetLastRefAreaCorrelationRevision(), version >= 1 ? 64 : -2);
    EXPECT_EQ(area.GetTimeChanged(), version >= 2 ? 1700000000 : 0);
    EXPECT_EQ(area.GetLastNodeRevisionData(), version >= 3 ? 65 : -1);
    EXPECT_EQ(area.GetLastGUIDData(), version >= 3 ? L"data guid" : L"");
    EXPECT_EQ(area.GetLastGUIDRevisionData(), version >= 3 ? 66 : -1);
    EXPECT_EQ(area.GetLastGUIDCorr(), version >= 3 ? L"corr guid" : L"");
}

void expectEffortLogging(const KaCRegistrationEffortLoggingAttribute& effort) {
    EXPECT_EQ(effort.GetMaxNewtonError(), 0.75);
    EXPECT_EQ(effort.GetMeanNewtonError(), 0.25);
    EXPECT_EQ(effort.GetTimeStampLog(), L"@0.0 (0.0) start\n@1.5 (1.5) icp\n");
    CbMap<std::wstring, double> durations = effort.GetSubTaskDurationLog();
    EXPECT_EQ(durations.GetCount(), 3u);
    for (const auto& [name, seconds] : {std::pair{L"align", 0.5}, {L"icp", 1.5}, {L"merge", 2.5}}) {
        const double* stored = durations.Find(name);
        EXPECT_TRUE(stored != nullptr && *stored == seconds) << name;
    }
}

// The record holds no valid estimates, so the getters compute them from the histograms.
void expectJawSemantics(const KaCJawSemanticsAttribute& jaw) {
    const KaCQuantizedNormalBinning& occlusal = jaw.GetOcclusalDirectionBinning();
    EXPECT_EQ(occlusal.GetTotalCount(), 5u);
    EXPECT_EQ(occlusal.GetBinCount(KaCQuantizedNormalBinning::GetBinIndex({0, 0.6f, 0.8f})), 4u);
    EXPECT_EQ(occlusal.GetBinCount(KaCQuantizedNormalBinning::GetBinIndex({0, 0, 1})), 1u);
    const KaCQuantizedNormalBinning& extraoral = jaw.GetExtraoralDirectionBinning();
    EXPECT_EQ(extraoral.GetTotalCount(), 3u);
    EXPECT_EQ(extraoral.GetBinCount(KaCQuantizedNormalBinning::GetBinIndex({1, 0, 0.2f})), 3u);
    EXPECT_EQ(jaw.GetOcclusalDirectionBinningRevision(), 77);
    EXPECT_GT(jaw.GetOcclusalDirectionEstimate().Dot({0, 0.6f, 0.8f}), 0.95f);
    EXPECT_GT(jaw.GetExtraoralDirectionEstimate().x, 0.95f);
}

void expectContainer(const KaARTTIAttributeContainer& container) {
    ASSERT_EQ(container.GetCount(), 3u);
    const auto& attributes = container.GetAttributes();
    EXPECT_TRUE(attributes[0]->Is(KaCRepresentativeAttribute::RTTI));
    EXPECT_TRUE(attributes[1]->Is(KaCBackgroundOptimizationLoopCountAttribute::RTTI));
    EXPECT_TRUE(attributes[2]->Is(KaCAreaPropertiesAttribute::RTTI));
    int x = 0, y = 0, z = 0;
    container.GetAttribute<KaCRepresentativeAttribute>()->GetGridVoxel(x, y, z);
    EXPECT_EQ(std::vector<int>({x, y, z}), std::vector<int>({-1, 0, 1}));
    EXPECT_EQ(container.GetAttribute<KaCBackgroundOptimizationLoopCountAttribute>()
                  ->GetOptimizationLoopCount(),
              5u);
}

Bytes attributeContainer(const Bytes& file) {
    KaARTTIAttributeContainer container;
    CbStreamReadBinaryBuffer stream(file);
    container.Serialize(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    expectContainer(container);
    return record([&](auto& s) { container.Serialize(s); });
}

std::vector<GoldenFile> attributeFiles() {
    using ImageArea = KaCImageAreaDataAttribute;
    std::vector<GoldenFile> files = {
        // The record of the area properties is its version alone.
        {"attribute-area-properties.bin", true, attribute<KaCAreaPropertiesAttribute>(nullptr)},
        {"attribute-loop-count.bin", true,
         attribute<KaCBackgroundOptimizationLoopCountAttribute>(
             [](const auto& loops) { EXPECT_EQ(loops.GetOptimizationLoopCount(), 7u); })},
        {"attribute-representative.bin", true,
         attribute<KaCRepresentativeAttribute>([](const auto& representative) {
             int x = 0, y = 0, z = 0;
             representative.GetGridVoxel(x, y, z);
             EXPECT_EQ(std::vector<int>({x, y, z}), std::vector<int>({4, -7, 19}));
         })},
        {"attribute-effort-logging.bin", true,
         attribute<KaCRegistrationEffortLoggingAttribute>(expectEffortLogging)},
        {"attribute-registration-hints.bin", true,
         attribute<KaCRegistrationHintsAttribute>([](const auto& hints) {
             EXPECT_EQ(hints.GetDisplayMode(), KaCRegistrationHintsAttribute::eDisplayModeOverlay);
             expectSurfels(hints.GetRegistrationHintSurfelCollection().Get(), 3, 40);
         })},
        {"attribute-disconnected-warning.bin", true,
         attribute<KaCDisconnectedComponentWarningAttribute>([](const auto& warning) {
             expectSurfels(warning.GetWarningSurfelCollection().Get(), 2, 50);
         })},
        {"attribute-jaw-semantics.bin", true,
         attribute<KaCJawSemanticsAttribute>(expectJawSemantics)},
        {"attribute-container.bin", true, attributeContainer},
    };
    for (uint32_t version : {0u, 1u, 2u, 3u}) {
        files.push_back({"attribute-image-area-data-v" + std::to_string(version) + ".bin",
                         version == 3, attribute<ImageArea>([version](const ImageArea& area) {
                             expectImageArea(area, version);
                         })});
    }
    return files;
}

std::vector<GoldenFile> goldenFiles() {
    std::vector<GoldenFile> files = {
        {"structure-inner-v1.bin", true, structureRecord(c_tree[1])},
        {"structure-leaf-v3.bin", true, structureRecord(c_tree[2])},
        {"structure-leaf-v2.bin", false, structureRecord(c_tree[3])},
        {"structure-leaf-v1.bin", false, structureRecord(c_tree[4])},
        {"node-vector-v2.bin", true, nodeVector(true)},
        {"node-vector-v1.bin", false, nodeVector(false)},
        {"tree.bin", true, treeRecord},
        {"session.ttree", false, sessionFile},
        {"session-v2.ttree", true, sessionFile},
    };
    std::vector<GoldenFile> attributes = attributeFiles();
    files.insert(files.end(), attributes.begin(), attributes.end());
    return files;
}

}  // namespace

TEST_F(PersistenceTest, GoldenFilesReadAndWriteBackByteForByte) {
    std::set<std::string> listed;
    for (const GoldenFile& golden : goldenFiles()) {
        SCOPED_TRACE(golden.name);
        listed.insert(golden.name);
        try {
            const Bytes file = CbStreamReadBinaryFile::ReadAll(c_folder / golden.name);
            const Bytes written = golden.check(file);
            if (golden.current) {
                EXPECT_TRUE(sameBytes(file, written));
            }
        } catch (const CbException& problem) {
            clearMappings();
            ADD_FAILURE() << "reading failed: " << problem.GetMessage();
        }
    }
    // Every file of the folder is checked here: none is left behind unread.
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(c_folder)) {
        if (entry.path().filename() != "README.md") {
            present.insert(entry.path().filename().string());
        }
    }
    EXPECT_EQ(present, listed);
}
