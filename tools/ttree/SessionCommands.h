#pragma once

#include <cstdint>
#include <string>

// The ttree commands that read a session file: info, dump, verify, export and render.
// Each returns the process exit code and throws CbException for faults the user sees.
class SessionCommands {
public:
    // Counts, bounding box, revisions, models and clusters.
    static int Info(const std::string& file);
    // The node manager's dump of the tree.
    static int Dump(const std::string& file);
    // Reads everything, checks checksums and consistency; non-zero with a message on any fault.
    static int Verify(const std::string& file);
    enum EFrame { eSessionFrame, eNodeFrame };
    // The merged (cell 0) or grid-subsampled model of a node's subtree, in the session's
    // frame (the root's) or in the node's own.
    static int Export(const std::string& file, const std::string& output, const std::string& node,
                      float cellSize, EFrame frame);
    // A preview image of a node's subtree, seen from above in the node's own frame.
    static int Render(const std::string& file, const std::string& output, const std::string& node,
                      uint32_t width, uint32_t height);
};
