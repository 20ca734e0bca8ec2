#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/ttree/PoseFile.h"

class SessionBuilder;

// `ttree import DIR -o FILE`: builds a session from the PLY scans of a folder, placed and
// ordered by the folder's poses.txt (PoseFile), as the demo builds its session, and writes
// it. Scans keep their acquisition sequence numbers (on their models); with the pose file's
// acquisition columns, each segment becomes a cluster (a new one starts where the segment
// changes, as where an application loses tracking) and each leaf carries its time stamp and
// segment (ScanAcquisitionAttribute). Without them, the scans are numbered 1, 2, ... in
// the file's order and go into one cluster. Scans are read, and the models built, on
// several threads; the session is the same as with one (but for the random IDs), and a bad
// scan is reported as a one-thread run reports it: the first in the file's order.
class ImportCommand {
public:
    struct Options {
        std::string directory;
        std::string output;
        uint32_t maxChildren = 4;
        float cellSize = 0.3f;
        std::string poseConvention = "row";
        bool dropInvalid = false;     // leave out vertices that are not finite
        bool skipDuplicates = false;  // leave out later lines of a scan listed twice
        uint32_t threads = 0;         // for reading scans and building models; 0: all cores
    };

    static int Run(const Options& options);
    // What `ttree import --help` says about poses.txt after the options.
    static std::string HelpText();

private:
    // Every scan of `entries` read and added to `session`; returns the vertices left out.
    static uint64_t addScans(const std::filesystem::path& folder,
                             const std::vector<PoseFile::Entry>& entries, const Options& options,
                             SessionBuilder& session);
};
