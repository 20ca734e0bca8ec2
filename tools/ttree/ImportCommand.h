#pragma once

#include <cstdint>
#include <string>

// `ttree import DIR -o FILE`: builds a session from the PLY scans of a folder, placed and
// ordered by the folder's poses.txt, as the demo builds its session, and writes it.
class ImportCommand {
public:
    struct Options {
        std::string directory;
        std::string output;
        uint32_t maxChildren = 4;
        float cellSize = 0.3f;
        std::string poseConvention = "row";
    };

    static int Run(const Options& options);
};
