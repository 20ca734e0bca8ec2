#include "tools/ttree/DemoCommand.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/harbor/CbStringConversion.h"
#include "tools/ttree/CommandSupport.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/PreviewRenderer.h"
#include "tools/ttree/SessionBuilder.h"
#include "tools/ttree/SyntheticScanner.h"
#include "tools/ttree/TreeCommand.h"
#include "tools/ttree/Wording.h"
#include "transformationtree/persistence/KaCSessionFile.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"

namespace {
constexpr uint32_t c_previewWidth = 800;
constexpr uint32_t c_previewHeight = 600;
}  // namespace

int DemoCommand::Run(const Options& options) {
    using Phase = CommandSupport::Phase;
    std::filesystem::path folder(options.outputDirectory);
    std::filesystem::create_directories(folder);
    std::printf("ttree demo: %s of a synthetic dental arch, output in %s/\n",
                Wording::Count(options.scans, "scan", "scans").c_str(), folder.string().c_str());

    // Progress goes to a terminal only; logs and pipes get the phase lines.
    const bool interactive = ::isatty(STDOUT_FILENO) != 0;
    const SessionBuilder::Options build;
    SessionBuilder session(build);
    SyntheticScanner scanner(options.scans);
    uint64_t surfels = 0;
    {
        Phase phase("scan and add to the tree");
        for (uint32_t i = 0; i < options.scans; ++i) {
            SyntheticScanner::Scan scan = scanner.TakeScan(i);
            surfels += scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                           ->GetNrSurfels();
            session.AddScan(scan.model, scan.pose,
                            options.scansPerTracking != 0 && i % options.scansPerTracking == 0);
            if (interactive && ((i + 1) % 5 == 0 || i + 1 == options.scans)) {
                std::printf("    scan %u of %u\r", i + 1, options.scans);
                std::fflush(stdout);
            }
        }
        if (interactive) {
            std::printf("\n");
        }
    }
    {
        Phase phase("balance clusters");
        session.FinishCluster();
    }
    {
        Phase phase("subsampled models");
        session.BuildModels();
    }
    std::filesystem::path sessionPath = folder / "session.ttree";
    uint64_t fileSize = 0;
    KaCSessionFile::Properties properties{{L"created by", L"ttree demo"},
                                          {L"scans", std::to_wstring(options.scans)}};
    std::string cell = Wording::Number(build.cellSize);
    properties[TreeCommand::c_cellProperty] = std::wstring(cell.begin(), cell.end());
    {
        Phase phase("write session file");
        fileSize = KaCSessionFile::Write(sessionPath, session.GetRoot(), properties);
    }
    {
        Phase phase("read back and compare");
        KaCSessionFile::Contents read = KaCSessionFile::Read(sessionPath, false);
        std::wstring difference =
            KaCTransformationTreeComparator::FirstDifference(session.GetRoot(), read.root);
        if (!difference.empty() || read.properties != properties) {
            std::fprintf(stderr, "ttree demo: the session read back differs: %s\n",
                         difference.empty() ? "properties" : CbToUtf8(difference).c_str());
            return 1;
        }
    }
    CbSmartPointer<KaCSurfelCollectionCCT> merged;
    {
        Phase phase("export merged model (PLY)");
        merged = CommandSupport::SurfelsOf(session.GetRoot(), 0.0f);
        PlyFile::Write(folder / "merged.ply", *merged);
    }
    {
        Phase phase("render preview (PNG)");
        PreviewRenderer::WritePng(folder / "preview.png",
                                  PreviewRenderer::Render(*merged, c_previewWidth, c_previewHeight),
                                  c_previewWidth, c_previewHeight);
    }
    CyBoundingBox3D box = session.GetRoot()->GetBoundingBox(c_matIdentityD);
    std::printf("scans %u, surfels %llu, clusters %llu, depth %zu, session file %.1f MB\n",
                options.scans, static_cast<unsigned long long>(surfels),
                static_cast<unsigned long long>(session.GetClusterCount()), session.GetDepth(),
                static_cast<double>(fileSize) / 1e6);
    std::printf("extent %.1f x %.1f x %.1f mm; wrote %s, merged.ply, preview.png\n",
                box.GetExtent().x, box.GetExtent().y, box.GetExtent().z,
                sessionPath.filename().string().c_str());
    return 0;
}
