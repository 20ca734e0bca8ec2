#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/persistence/KaCSessionFile.h"

// What the ttree commands share: finding a node of a read tree, the surfels of a subtree
// in its frame, and timing the phases of a command. Throws CbException with a message for
// the user.
class CommandSupport {
public:
    // `root` itself for an empty ID, else the node of its subtree with that ID: the text
    // form, with or without the braces `ttree tree` shows.
    static CbSmartPointer<KaCTransformationNode> FindNode(
        const CbSmartPointer<KaCTransformationNodeInner>& root, const std::string& id);
    // Every surfel of the scans below `node`, in `node`'s frame carried by `into` (row
    // vectors; the identity keeps `node`'s own frame): merged for a cell size of 0, else
    // thinned out on a grid of that cell size.
    static CbSmartPointer<KaCSurfelCollectionCCT> SurfelsOf(
        const CbSmartPointer<KaCTransformationNode>& node, float cellSize,
        const CbMatrix4Rd& into = c_matIdentityD);

    // The clusters of a session's tree, in the tree's order.
    static std::vector<const KaCTransformationNode*> ClustersOf(
        const KaCSessionFile::Contents& session);
    // The grid cell (mm) the session's inner-node models were built with, as the session
    // properties record it; none when absent or not a finite number >= 0 (0: merged).
    static std::optional<float> ModelCellOf(const KaCSessionFile::Contents& session);

    // Binds the node manager to the application's data manager, so that a tree set as
    // root is mirrored; throws when another data manager is bound already.
    static void BindDataManager();
    // Unbinds it again; the root must have been unset before.
    static void UnbindDataManager();

    // Measures one phase of a command and prints its time when it ends.
    class Phase {
    public:
        explicit Phase(const char* name);
        ~Phase();
        Phase(const Phase&) = delete;
        Phase& operator=(const Phase&) = delete;

    private:
        const char* m_name;
        std::chrono::steady_clock::time_point m_start;
    };
};
