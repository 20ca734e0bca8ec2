#include "tools/ttree/ImportCommand.h"

#include <cstdio>
#include <set>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/harbor/CbException.h"
#include "tools/ttree/OutputFileName.h"
#include "tools/ttree/ParallelScanReader.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/Progress.h"
#include "tools/ttree/RigidTransform.h"
#include "tools/ttree/ScanAcquisitionAttribute.h"
#include "tools/ttree/SessionBuilder.h"
#include "tools/ttree/Wording.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace {

PoseFile::Contents readPoses(const std::filesystem::path& folder,
                             const ImportCommand::Options& options) {
    PoseFile::Options poseOptions;
    poseOptions.convention =
        options.poseConvention == "column" ? PoseFile::eColumnVectors : PoseFile::eRowVectors;
    poseOptions.skipDuplicates = options.skipDuplicates;
    PoseFile::Contents poses = PoseFile::Read(folder / "poses.txt", poseOptions);
    for (const std::string& warning : poses.warnings) {
        std::fprintf(stderr, "ttree import: warning: %s\n", warning.c_str());
    }
    if (poses.entries.empty()) {
        CB_THROW(CbException, "'" + (folder / "poses.txt").string() + "' lists no scans");
    }
    return poses;
}

void requireEveryScanListed(const std::filesystem::path& folder,
                            const std::vector<PoseFile::Entry>& entries) {
    std::set<std::string> listed;
    for (const PoseFile::Entry& entry : entries) {
        if (std::filesystem::path(entry.scan).extension() != ".ply") {
            CB_THROW(CbException, "poses.txt names '" + entry.scan + "', which is not a .ply file");
        }
        listed.insert(entry.scan);
    }
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        std::string name = file.path().filename().string();
        if (file.path().extension() == ".ply" && listed.count(name) == 0) {
            CB_THROW(CbException, "the scan '" + name + "' has no pose in poses.txt");
        }
    }
}

// Reads one scan; runs on any thread (ParallelScanReader), so it prints nothing.
ParallelScanReader::Scan readScan(const std::filesystem::path& file,
                                  const ImportCommand::Options& options) {
    ParallelScanReader::Scan scan;
    auto collection = PlyFile::Read(
        file, options.dropInvalid ? PlyFile::eDropInvalid : PlyFile::eRefuseInvalid, &scan.dropped);
    scan.model = CCT_DepthImage::Create(collection, true);
    std::string stem = file.stem().string();
    scan.model->SetFilename(std::wstring(stem.begin(), stem.end()));
    return scan;
}

}  // namespace

int ImportCommand::Run(const Options& options) {
    OutputFileName::RequireExtension(options.output, ".ttree", "a session file");
    std::filesystem::path folder(options.directory);
    if (!std::filesystem::is_directory(folder)) {
        CB_THROW(CbException, "'" + options.directory + "' is not a folder");
    }
    PoseFile::Contents poses = readPoses(folder, options);
    requireEveryScanListed(folder, poses.entries);
    SessionBuilder session(
        SessionBuilder::Options{options.maxChildren, options.cellSize, options.threads});
    uint64_t dropped = addScans(folder, poses.entries, options, session);
    session.BuildModels();
    const uint64_t scans = poses.entries.size();
    KaCSessionFile::Properties properties{{L"created by", L"ttree import"},
                                          {L"scans", std::to_wstring(scans)}};
    if (dropped > 0) {
        properties.emplace(L"vertices left out", std::to_wstring(dropped));
    }
    uint64_t bytes = KaCSessionFile::Write(options.output, session.GetRoot(), properties);
    std::printf("imported %s into %s (%s)\n", Wording::Count(scans, "scan", "scans").c_str(),
                options.output.c_str(), Wording::Count(bytes, "byte", "bytes").c_str());
    return 0;
}

uint64_t ImportCommand::addScans(const std::filesystem::path& folder,
                                 const std::vector<PoseFile::Entry>& entries,
                                 const Options& options, SessionBuilder& session) {
    uint64_t droppedInAll = 0;
    const PoseFile::Acquisition* previous = nullptr;
    Progress progress("import", entries.size(), "scans");
    // The scans are read on every thread; the session is built here, in input order.
    ParallelScanReader reader(
        entries.size(), [&](size_t i) { return readScan(folder / entries[i].scan, options); },
        options.threads);
    for (size_t i = 0; i < entries.size(); ++i) {
        const PoseFile::Entry& entry = entries[i];
        ParallelScanReader::Scan scan = reader.Take();
        if (scan.dropped > 0) {
            std::printf(
                "%s: left out %llu of %llu vertices (position or normal not finite)\n",
                std::filesystem::path(entry.scan).filename().string().c_str(),
                static_cast<unsigned long long>(scan.dropped),
                static_cast<unsigned long long>(
                    scan.dropped +
                    scan.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard)
                        ->GetNrSurfels()));
        }
        droppedInAll += scan.dropped;
        CbSmartPointer<CCT_DepthImage> model = scan.model;
        const PoseFile::Acquisition* acquisition =
            entry.acquisition ? &*entry.acquisition : nullptr;
        model->SetAcquireSequenceNumber(acquisition ? acquisition->sequence : i + 1);
        const bool newSegment =
            acquisition && previous && acquisition->segment != previous->segment;
        auto leaf = session.AddScan(model, entry.pose, newSegment);
        if (acquisition) {
            auto attribute = CbMakeShared<ScanAcquisitionAttribute>();
            attribute->SetTimeStamp(acquisition->timeStamp);
            attribute->SetSegment(acquisition->segment);
            leaf->SetAttribute(attribute);
        }
        previous = acquisition;
        progress.Step();
    }
    return droppedInAll;
}

std::string ImportCommand::HelpText() {
    char tolerance[16];
    std::snprintf(tolerance, sizeof tolerance, "%g", RigidTransform::ms_tolerance);
    return std::string(
               "DIR/poses.txt lists one scan a line, in acquisition order ('#' starts a comment):\n"
               "  <scan>.ply <16 numbers: pose> [<sequence number> <time stamp in s> <segment>]\n"
               "The pose maps the scan's points into the session frame.\n"
               "  --pose-convention row (default): p' = p M, for row vectors; the translation is\n"
               "    numbers 13-15, and numbers 4, 8, 12 and 16 are 0 0 0 1.\n"
               "  --pose-convention column: p' = M p, for column vectors (the transpose); the\n"
               "    translation is numbers 4, 8 and 12, and numbers 13-16 are 0 0 0 1.\n"
               "Every pose must be rigid: finite, its rotation part R orthonormal (each entry of\n"
               "R R^T within ") +
           tolerance +
           " of the identity's) with determinant +1.\n"
           "The optional columns are on every line or on none: sequence numbers increase, time\n"
           "stamps never decrease, the lines of a segment follow each other; each segment\n"
           "becomes a cluster. Example (row convention: turned 90 degrees about z, x onto y,\n"
           "moved 10 mm along x; sequence number 1000, 50 s, segment 0):\n"
           "  scan_000.ply 0 1 0 0  -1 0 0 0  0 0 1 0  10 0 0 1  1000 50.0 0\n";
}
