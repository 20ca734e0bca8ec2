#include "tools/ttree/SessionCommands.h"

#include <algorithm>
#include <cstdio>

#include "platform/harbor/CbStreamWriteASCII.h"
#include "platform/harbor/CbStringConversion.h"
#include "tools/ttree/CommandSupport.h"
#include "tools/ttree/OutputFile.h"
#include "tools/ttree/OutputFileName.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/PreviewRenderer.h"
#include "tools/ttree/ScanSummary.h"
#include "tools/ttree/TreeValueCheck.h"
#include "tools/ttree/Wording.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace {

// Text to standard output.
class StandardOutput : public CbStreamWriteASCII {
public:
    void WriteText(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
};

// A session's tree mirrored into the application's data manager, held for writing while
// it lives, as an application holds the tree it works on.
class MirroredSession {
public:
    explicit MirroredSession(const std::string& file)
        : m_manager(KaCTransformationNodeManager::GetInstance())
        , m_contents(KaCSessionFile::Read(file, true)) {
        CommandSupport::BindDataManager();
        m_manager.SetRootNode(m_contents.root);
        m_access = m_manager.GetSingleWriteHandleLocked(m_contents.root);
    }
    ~MirroredSession() {
        m_manager.UnsetRootNode();
        m_access = KaCTransformationNodeManager::WriteHandle();
        CommandSupport::UnbindDataManager();
    }
    MirroredSession(const MirroredSession&) = delete;
    MirroredSession& operator=(const MirroredSession&) = delete;

    KaCTransformationNodeManager& Manager() { return m_manager; }
    const KaCSessionFile::Contents& Contents() const { return m_contents; }

private:
    KaCTransformationNodeManager& m_manager;
    KaCSessionFile::Contents m_contents;
    KaCTransformationNodeManager::WriteHandle m_access;
};

// The lines of `ttree info` about the scans' extent and acquisition.
void printScanSummary(const ScanSummary& scans) {
    if (scans.HasBox()) {
        std::printf("  %-22s (%.2f, %.2f, %.2f) to (%.2f, %.2f, %.2f) mm\n", "bounding box",
                    scans.GetMin()[0], scans.GetMin()[1], scans.GetMin()[2], scans.GetMax()[0],
                    scans.GetMax()[1], scans.GetMax()[2]);
    }
    if (scans.GetNonFiniteCount() > 0) {
        std::printf("  %-22s %llu (not in the box)\n", "surfels not finite",
                    static_cast<unsigned long long>(scans.GetNonFiniteCount()));
    }
    if (scans.HasSequenceNumbers()) {
        std::printf("  %-22s %llu to %llu\n", "sequence numbers",
                    static_cast<unsigned long long>(scans.GetFirstSequenceNumber()),
                    static_cast<unsigned long long>(scans.GetLastSequenceNumber()));
    }
    if (scans.HasAcquisition()) {
        std::printf("  %-22s %.3f to %.3f s\n", "time stamps", scans.GetFirstTimeStamp(),
                    scans.GetLastTimeStamp());
        std::string list;  // the first eight
        size_t listed = 0;
        for (uint32_t segment : scans.GetSegments()) {
            if (listed++ == 8) {
                list += ", ...";
                break;
            }
            list += (list.empty() ? "" : ", ") + std::to_string(segment);
        }
        std::printf("  %-22s %zu (%s)\n", "segments", scans.GetSegments().size(), list.c_str());
    }
}

}  // namespace

int SessionCommands::Info(const std::string& file) {
    KaCSessionFile::Contents session = KaCSessionFile::Read(file, false);
    uint64_t inner = 0, leaves = 0, surfels = 0, innerModels = 0, keyframes = 0;
    int64_t modelRevision = -1, trafoRevision = -1;
    size_t depth = 0;
    for (auto it = session.root->BeginNode(); it; ++it) {
        const KaCTransformationNode& node = *it.GetCurrentNode();
        depth = std::max(depth, it.GetPath().size());
        modelRevision =
            std::max(modelRevision, node.GetNodeRevision(KaCTransformationNode::eRevisionModel));
        trafoRevision =
            std::max(trafoRevision, node.GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
        if (node.IsLeaf()) {
            ++leaves;
            keyframes += node.IsKeyframe() ? 1 : 0;
            if (auto model = node.GetModel()) {
                surfels += model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                               ->GetNrSurfels();
            }
        } else {
            ++inner;
            innerModels += node.GetModel() ? 1 : 0;
        }
    }
    CbList<CbSmartPointer<KaCTransformationNodeInner>> clusters;
    CbMakeShared<KaCSessionTransformationTree>(session.root)
        ->GetClusterNodes(session.root, clusters);
    std::printf("session %s\n", file.c_str());
    for (const auto& [key, value] : session.properties) {
        std::printf("  %-22s %s\n", CbToUtf8(key).c_str(), CbToUtf8(value).c_str());
    }
    std::printf("  %-22s %llu (%llu inner, %llu leaves, %llu keyframes)\n", "nodes",
                static_cast<unsigned long long>(inner + leaves),
                static_cast<unsigned long long>(inner), static_cast<unsigned long long>(leaves),
                static_cast<unsigned long long>(keyframes));
    std::printf("  %-22s %llu\n", "surfels in scans", static_cast<unsigned long long>(surfels));
    std::printf("  %-22s %llu\n", "inner nodes with model",
                static_cast<unsigned long long>(innerModels));
    std::printf("  %-22s %zu\n", "clusters", clusters.GetCount());
    std::printf("  %-22s %zu\n", "depth", depth);
    std::printf("  %-22s model %lld, transformation %lld\n", "latest revisions",
                static_cast<long long>(modelRevision), static_cast<long long>(trafoRevision));
    printScanSummary(ScanSummary(session.root));
    return 0;
}

int SessionCommands::Dump(const std::string& file) {
    MirroredSession session(file);
    StandardOutput output;
    session.Manager().dump(output);
    return 0;
}

int SessionCommands::Verify(const std::string& file) {
    MirroredSession session(file);
    if (!session.Manager().IsValid()) {
        std::fprintf(stderr, "ttree verify: %s: the tree is not consistent\n", file.c_str());
        return 1;
    }
    uint64_t nodes = 0;
    for (auto it = session.Contents().root->BeginNode(); it; ++it, ++nodes) {
        const KaCTransformationNode& node = *it.GetCurrentNode();
        if (node.IsLeaf() && !node.GetModel()) {
            std::fprintf(stderr, "ttree verify: %s: the scan '%s' has no model\n", file.c_str(),
                         CbToUtf8(node.GetDescription()).c_str());
            return 1;
        }
    }
    std::string fault = TreeValueCheck::FirstFault(session.Contents().root);
    if (!fault.empty()) {
        std::fprintf(stderr, "ttree verify: %s: %s\n", file.c_str(), fault.c_str());
        return 1;
    }
    std::printf("%s: OK (%llu nodes: checksums, tree, rigid transformations, finite surfels)\n",
                file.c_str(), static_cast<unsigned long long>(nodes));
    return 0;
}

int SessionCommands::Export(const std::string& file, const std::string& output,
                            const std::string& node, float cellSize, EFrame frame) {
    OutputFile::RefuseInput(output, file);
    OutputFileName::RequireExtension(output, ".ply", "a PLY file");
    KaCSessionFile::Contents session = KaCSessionFile::Read(file, false);
    CbSmartPointer<KaCTransformationNode> found = CommandSupport::FindNode(session.root, node);
    CbMatrix4Rd into =
        frame == eSessionFrame ? found->GetRelativeTrafo(session.root) : c_matIdentityD;
    auto surfels = CommandSupport::SurfelsOf(found, cellSize, into);
    PlyFile::Write(output, *surfels);
    std::printf("wrote %s to %s\n",
                Wording::Count(surfels->GetNrSurfels(), "surfel", "surfels").c_str(),
                output.c_str());
    return 0;
}

int SessionCommands::Render(const std::string& file, const std::string& output,
                            const std::string& node, uint32_t width, uint32_t height) {
    OutputFile::RefuseInput(output, file);
    OutputFileName::RequireExtension(output, ".png", "a PNG image");
    KaCSessionFile::Contents session = KaCSessionFile::Read(file, false);
    auto surfels = CommandSupport::SurfelsOf(CommandSupport::FindNode(session.root, node), 0.0f);
    PreviewRenderer::WritePng(output, PreviewRenderer::Render(*surfels, width, height), width,
                              height);
    std::printf("wrote a %ux%u preview of %s to %s\n", width, height,
                Wording::Count(surfels->GetNrSurfels(), "surfel", "surfels").c_str(),
                output.c_str());
    return 0;
}
