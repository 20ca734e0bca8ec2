#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/harbor/CbSmartPointer.h"

class KaCTransformationNode;

// The pre-order snapshot of one whole tree that the node and leaf walks step over instead
// of the scattered node objects: for every node of the tree, in walk order, its address,
// its position in its father's child list, its father's index, the index one past its
// subtree, its depth, the number of leaves before it, whether it is a leaf and whether it
// has children; and, in a second array, its relative trafo. A subtree is the contiguous
// range [index, end) of its root, so a walk from any inner node uses the snapshot of the
// tree it belongs to.
//
// Validity. Every node carries a walk generation, raised on the node and on all its
// ancestors by every change a walk could see: a child list changing (link, unlink,
// replace, clear, reserve, structure reading) and a relative trafo changing
// (SetRelativeTrafo, AssumeAttributes, structure reading). A snapshot records the
// generation of the tree root it was built from and is current while that generation is
// unchanged; a walk from a node R records R's generation when it starts using the snapshot
// and checks it at every step, so that a change within R's subtree sends the walk back to
// the node objects (the behaviour the walks had before there was a snapshot). Changes of
// models, flags and descriptions do not enter: the walks read those from the nodes.
//
// Building. A snapshot is built lazily, by the first walk after a change, on the tree root
// (the topmost ancestor), and published as an immutable shared object: walks that hold an
// older one keep it alive until they end. Walks that find no current snapshot go on over
// the nodes and report the steps they took there; the snapshot is built once the walks of
// the tree have taken a quarter as many steps as the previous snapshot had nodes (at once
// when there was none, and at once for GetRas, which visits every leaf anyway), so that
// short walks between changes never pay for a build of a large tree, and the build costs
// at most about four times the steps already taken.
//
// Thread safety. One process-wide mutex guards every tree root's snapshot slot and every
// build; a build reads the nodes, as a walk does, so it needs the same read access to the
// tree as the walk that asks for it. Snapshots are immutable once published, so any number
// of threads walk the same tree concurrently; builds of different trees are serialised.
//
// Memory. 40 bytes of entry and 128 bytes of trafo per node of the tree, about 168 MB for
// 1,000,000 nodes, held by the tree root from the first walk on and freed with it; a
// snapshot that is no longer current stays until the next build, which refills its memory
// when no walk holds it any more (its size is what the next build is weighed against). Trees of
// 2^32 - 1 nodes or more get no snapshot (their walks use the nodes).
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

    // Hands out the current snapshot of the tree of the inner node `root` in `attachment`
    // and returns true; builds one first when there is none and the steps taken over the
    // nodes (`stepsTaken` more since the caller last reported) weigh enough, see the class
    // comment. Returns false when the walk is to go on over the nodes. Needs read access
    // to the tree.
    static bool Attach(KaCTransformationNode& root, uint64_t stepsTaken, Attachment& attachment);
    // Steps that make Attach build whatever the size of the tree.
    static constexpr uint64_t c_buildNow = UINT64_MAX;

    // The index `node` had in the last snapshot built of a tree it was in; callers check it
    // against the snapshot they hold (Entries()[index].node == &node).
    static uint32_t IndexOf(const KaCTransformationNode& node);

    const Entry* Entries() const { return m_entries.data(); }
    const CbMatrix4Rd* RelativeTrafos() const { return m_relative.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(m_entries.size()); }
    // The number of leaves in the subtree of the node at `index`.
    uint32_t LeavesBelow(uint32_t index) const;

private:
    KaCPreorderWalkCache() = default;
    // The snapshot of the subtree of `top` (a tree root), in `reuse` when given (a stale
    // snapshot nothing else holds); null when the tree is too large.
    static std::shared_ptr<const KaCPreorderWalkCache> build(
        KaCTransformationNode& top, uint64_t generation, uint32_t expectedSize,
        std::shared_ptr<KaCPreorderWalkCache> reuse);

    static std::mutex ms_mutex;  // guards every node's snapshot slot and every build

    std::vector<Entry> m_entries;
    std::vector<CbMatrix4Rd> m_relative;
    uint32_t m_leaves = 0;
    uint64_t m_generation = 0;  // the tree root's walk generation at the build
};
