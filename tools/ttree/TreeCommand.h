#pragma once

#include <cstdint>
#include <limits>
#include <string>

// `ttree tree`: the tree of a session, one node a line, indented by depth; or, for
// scripts, the same as one JSON document of nested objects. Every node shows its ID (the
// form `--node` takes), description, kind (root, cluster, inner or scan), its number of
// children (inner nodes) or surfels (scans), the acquisition sequence number and keyframe
// flag of a scan, and the grid cell of an inner node's model when the session records it
// (the "model cell (mm)" property). Faults throw CbException.
class TreeCommand {
public:
    struct Options {
        std::string file;
        uint32_t depth = std::numeric_limits<uint32_t>::max();  // the root is depth 0
        bool json = false;
    };

    static int Run(const Options& options);

    // The property that records the cell of the inner nodes' models, in millimetres.
    static constexpr const wchar_t* c_cellProperty = L"model cell (mm)";
};
