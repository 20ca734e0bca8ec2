#include "tools/ttree/ImportCommand.h"

#include <cstdio>
#include <filesystem>
#include <set>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/harbor/CbException.h"
#include "tools/ttree/PlyFile.h"
#include "tools/ttree/PoseFile.h"
#include "tools/ttree/SessionBuilder.h"
#include "transformationtree/persistence/KaCSessionFile.h"

int ImportCommand::Run(const Options& options) {
    std::filesystem::path folder(options.directory);
    if (!std::filesystem::is_directory(folder)) {
        CB_THROW(CbException, "'" + options.directory + "' is not a folder");
    }
    auto convention =
        options.poseConvention == "column" ? PoseFile::eColumnVectors : PoseFile::eRowVectors;
    auto poses = PoseFile::Read(folder / "poses.txt", convention);
    if (poses.empty()) {
        CB_THROW(CbException, "'" + (folder / "poses.txt").string() + "' lists no scans");
    }
    std::set<std::string> listed;
    for (const auto& entry : poses) {
        listed.insert(entry.first);
    }
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() == ".ply" && listed.count(name) == 0) {
            CB_THROW(CbException, "the scan '" + name + "' has no pose in poses.txt");
        }
    }
    SessionBuilder session(SessionBuilder::Options{options.maxChildren, options.cellSize});
    uint64_t sequence = 0;
    for (const auto& [name, pose] : poses) {
        if (std::filesystem::path(name).extension() != ".ply") {
            CB_THROW(CbException, "poses.txt names '" + name + "', which is not a .ply file");
        }
        auto collection = PlyFile::Read(folder / name);
        CbSmartPointer<CCT_DepthImage> model = CCT_DepthImage::Create(collection, true);
        model->SetAcquireSequenceNumber(++sequence);
        std::string stem = std::filesystem::path(name).stem().string();
        model->SetFilename(std::wstring(stem.begin(), stem.end()));
        session.AddScan(model, pose, false);
    }
    session.BuildModels();
    uint64_t bytes = KaCSessionFile::Write(
        options.output, session.GetRoot(),
        {{L"created by", L"ttree import"}, {L"scans", std::to_wstring(sequence)}});
    std::printf("imported %llu scans into %s (%llu bytes)\n",
                static_cast<unsigned long long>(sequence), options.output.c_str(),
                static_cast<unsigned long long>(bytes));
    return 0;
}
