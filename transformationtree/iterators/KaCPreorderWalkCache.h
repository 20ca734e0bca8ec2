#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/harbor/CbSmartPointer.h"

class KaCTransformationNode;

// The pre-order snapshot of a subtree that the node and leaf walks step over instead of
// the scattered node objects: for every node of the subtree, in walk order, its address,
// its position in its father's child list, its father's index, the index one past its
// subtree, its depth, the number of leaves before it, whether it is a leaf and whether it
// has children; and, in a second array, its relative trafo. A snapshot is kept by the
// inner node whose subtree it holds. Every subtree inside is a contiguous range, so a walk
// from an inner node uses a current snapshot of its own subtree or of any ancestor's.
//
// Validity. Every node carries a walk generation, raised on the node and on all its
// ancestors by every change a walk could see: a child list changing (link, unlink,
// replace, clear, reserve, structure reading) and a relative trafo changing
// (SetRelativeTrafo, AssumeAttributes, structure reading). A snapshot records the
// generation of the node that keeps it and is current while that generation is unchanged;
// a walk from a node R records R's generation when it starts using a snapshot and checks
// it at every step, so that a change within R's subtree sends the walk back to the node
// objects (the behaviour the walks had before there was a snapshot). Changes of models,
// flags and descriptions do not enter: the walks read those from the nodes.
//
// Building. A walk that finds no current snapshot for its traversal root R (on R or an
// ancestor) goes on over the nodes and reports the steps it took there; a snapshot of R's
// subtree is built once the walks from R have taken a quarter as many steps as R's
// previous snapshot had nodes (at once when there was none, and at once for GetRas, which
// visits every leaf anyway), so that short walks between changes never pay for a build of
// a large subtree, and a build costs at most about four times the steps already taken. A
// build reads R's subtree only (all that the walk's read access covers: other threads may
// be changing other subtrees of the tree meanwhile) and drops the snapshots kept by the
// inner nodes below R, so snapshots never nest. Published snapshots are immutable and
// shared: walks that hold an older one keep it alive until they end.
//
// Thread safety. One process-wide mutex guards every node's snapshot slot and every build;
// a build needs the read access to R's subtree that the walk asking for it has. Any number
// of threads walk the same subtrees concurrently; builds are serialised.
//
// Memory. 40 bytes of entry and 128 bytes of trafo per node of a subtree with a snapshot,
// about 168 MB for 1,000,000 nodes; since snapshots never nest, at most that per node of
// the tree, plus snapshots that are no longer current until their node's next build,
// which refills their memory when no walk holds it any more (their size is what that build
// is weighed against). Subtrees of 2^32 - 1 nodes or more get no snapshot.
class KaCPreorderWalkCache {
public:
    // The position type of the walks' paths (KaNNodeIterator::ChildPosition).
    using ChildPosition = std::vector<CbSmartPointer<KaCTransformationNode>>::iterator;

    struct Entry {
        KaCTransformationNode* node;
        ChildPosition position;  // in the father's child list; empty for the tree root
        uint32_t father;         // the father's index (0 for the tree root)
        uint32_t end;            // one past the last index of the subtree
        uint32_t depth;          // below the tree root
        uint32_t leavesBefore;   // leaves at smaller indices
        bool isLeaf;
        bool hasChildren;
    };

    // A snapshot that a walk from `root` may use: the snapshot, the index of `root` in it
    // and `root`'s walk generation when it was taken.
    struct Attachment {
        std::shared_ptr<const KaCPreorderWalkCache> cache;
        uint32_t rootIndex = 0;
        uint64_t rootGeneration = 0;
    };

    // Hands out a current snapshot that holds the subtree of the inner node `root` in
    // `attachment` and returns true; builds one of that subtree first when there is none
    // and the steps taken over the nodes (`stepsTaken` more since the caller last
    // reported) weigh enough, see the class comment. Returns false when the walk is to go
    // on over the nodes. Needs read access to `root`'s subtree.
    static bool Attach(KaCTransformationNode& root, uint64_t stepsTaken, Attachment& attachment);
    // Steps that make Attach build whatever the size of the tree.
    static constexpr uint64_t c_buildNow = UINT64_MAX;

    // The index `node` had in the last snapshot built that holds it; callers check it
    // against the snapshot they hold (Entries()[index].node == &node).
    static uint32_t IndexOf(const KaCTransformationNode& node);

    const Entry* Entries() const { return m_entries.data(); }
    const CbMatrix4Rd* RelativeTrafos() const { return m_relative.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(m_entries.size()); }
    // The number of leaves in the subtree of the node at `index`.
    uint32_t LeavesBelow(uint32_t index) const;

private:
    KaCPreorderWalkCache() = default;
    // The snapshot of the subtree of `top`, in `reuse` when given (a stale snapshot nothing
    // else holds); null when the subtree is too large.
    static std::shared_ptr<const KaCPreorderWalkCache> build(
        KaCTransformationNode& top, uint64_t generation, uint32_t expectedSize,
        std::shared_ptr<KaCPreorderWalkCache> reuse);

    static std::mutex ms_mutex;  // guards every node's snapshot slot and every build

    std::vector<Entry> m_entries;
    std::vector<CbMatrix4Rd> m_relative;
    uint32_t m_leaves = 0;
    uint64_t m_generation = 0;  // the tree root's walk generation at the build
};
