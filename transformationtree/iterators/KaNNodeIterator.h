#pragma once

// Included by KaCTransformationNode.h; include that header instead.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Walks a subtree depth first (pre-order: a node, then each child's subtree in child
// order) and carries, for the node it stands on, the accumulated transformation into the
// frame of the node where the walk started (the traversal root): the identity for the
// traversal root, the relative trafo for its children, and relative trafo × father's
// accumulated trafo below them. The traversal root's own relative trafo never enters.
//
// States: at root (empty path, atRoot), walking (non-empty path), End (empty path, not
// atRoot); a walk started at a leaf is in single-leaf mode (at leaf, End). The filtered
// iterators derive from this class and plug a descent rule into the shared moves.
//
// A value type: copying duplicates the path and shares the node references. Any change of
// a child list on the path (or of the traversal root's) makes it unusable, so callers keep
// the tree unchanged while they walk it. Not synchronised (one iterator, one thread; any
// number of iterators may walk an unchanged tree from any threads).
// A step appends or removes path entries at the end only and computes at most one 4x4
// product per appended entry; it allocates only when the path grows beyond its capacity.
//
// The steps of the node walk, the leaf walk and IncrementToNextSibling run over a
// pre-order snapshot of the traversal root's subtree (KaCPreorderWalkCache) when there is
// a current one: the same path entries, made from the snapshot's contiguous arrays instead
// of the scattered nodes, with the same products in the same order, so the results are
// identical bit for bit. The walk checks the traversal root's walk generation at every
// step: after a change within the traversal root's subtree it goes on over the nodes as it
// did before there was a snapshot (which is exactly as usable as the change leaves the
// path). A walk without a snapshot asks for one at its first step and again after 64, 128,
// 256, ... steps (taking a process-wide mutex briefly). An iterator holds a reference to
// its snapshot and one 32-bit index per path entry besides the path.
class KaCTransformationNode::KaNNodeIterator {
public:
    using ChildList = std::vector<CbSmartPointer<KaCTransformationNode>>;
    using ChildPosition = ChildList::iterator;

    // One level below the traversal root on the way to the current node.
    struct PathEntry {
        ChildPosition childPosition;
        CbMatrix4Rd trafoToTraversalRoot;
    };

    // The walk over the subtree of `root`: standing on `root`, on the last node in walk
    // order, and End. The subtree of a leaf is the leaf alone (single-leaf mode).
    static KaNNodeIterator Begin(KaCTransformationNode& root);
    static KaNNodeIterator Last(KaCTransformationNode& root);
    static KaNNodeIterator End(KaCTransformationNode& root);
    // Stands on `node` when it lies in the subtree of `root` (on `root` itself at root),
    // otherwise End. Costs the depth of `node`.
    static KaNNodeIterator Find(KaCTransformationNodeInner& root,
                                const KaCTransformationNode* node);

    KaNNodeIterator();
    KaNNodeIterator(const KaNNodeIterator& other);
    KaNNodeIterator& operator=(const KaNNodeIterator& other);
    virtual ~KaNNodeIterator();

    // The next node in walk order, or End. The steps throw CbExceptionPreconditionViolation
    // on a default-constructed iterator.
    virtual KaNNodeIterator& operator++();
    // The previous node in walk order, or End. Requires a valid iterator.
    virtual KaNNodeIterator& operator--();
    // The current node with its transformations; requires a valid iterator. Throws
    // CyExceptionNotInvertible when the father's accumulated transformation is singular.
    virtual KaCTransformationNodeWithTrafo operator*() const;
    // True while the iterator stands on a node (is not End).
    virtual explicit operator bool() const;
    virtual bool operator!=(const KaNNodeIterator& other) const;
    virtual bool operator==(const KaNNodeIterator& other) const;
    virtual bool HasSameTraversalRoot(const KaNNodeIterator& other) const;
    // Skips the current node's subtree: to its next sibling, or the next sibling of the
    // nearest ancestor that has one, or End. At root, at leaf and at End nothing changes.
    virtual KaNNodeIterator& IncrementToNextSibling();

    // The node whose child list holds the current position; null at root, at leaf and End.
    CbSmartPointer<KaCTransformationNode> GetFather() const;

    // The current node without building a value (null at End), and its accumulated
    // transformation (the identity at root and at leaf). Cheap; for the library's walks.
    KaCTransformationNode* GetCurrentNode() const;
    const CbMatrix4Rd& GetCurrentTrafo() const;
    const std::vector<PathEntry>& GetPath() const { return m_path; }
    const CbSmartPointer<KaCTransformationNode>& GetTraversalRoot() const {
        return m_traversalRoot;
    }

protected:
    // A descent rule: whether a move may enter the node's children.
    using DescentRule = bool (*)(const KaCTransformationNode& node);
    enum class Direction { forward, backward };

    // Starts a walk at `root` (at root) or a single-leaf walk at `leaf`.
    void startAt(KaCTransformationNode* root, bool atRoot);
    void startSingleLeaf(KaCTransformationNode* leaf, bool atRoot);

    void append(ChildPosition position);
    void removeLast() {
        m_path.pop_back();
        m_inSync = false;
    }
    // The inner node whose child list holds the last entry's position.
    KaCTransformationNodeInner& fatherOfLast() const;
    // To the next (previous) sibling of the current node, then down its first (last)
    // children as `rule` allows; or up one level when there is no such sibling.
    void siblingMove(Direction direction, DescentRule rule);
    // Appends the first (last) child of the current inner node repeatedly while `rule`
    // allows entering the node reached.
    void descend(Direction direction, DescentRule rule);
    // Appends the first (last) child of the traversal root, then descends by `rule`; End
    // when the traversal root has no children. The start of the filtered walks.
    void startDescent(KaCTransformationNode* root, DescentRule rule, Direction direction);

    static bool hasChildren(const KaCTransformationNode& node);
    // Throws CbExceptionPreconditionViolation for a default-constructed iterator, which
    // tests valid but has nothing to walk.
    void requireWalk() const;

    // --- Steps over the pre-order snapshot
    // True when the next step may use the snapshot: one is held, the traversal root is
    // unchanged since, and the path indices match the path. Asks for a snapshot when the
    // schedule says so. Counts the steps taken without one.
    bool snapshotReady();
    // Matches the path against the held snapshot (after steps over the nodes).
    bool resyncWithSnapshot();
    // The current node's index in the snapshot (the traversal root's at root).
    uint32_t currentIndex() const { return m_path.empty() ? m_rootIndex : m_pathIndices.back(); }
    // Makes the path the one to the node at snapshot index `index` (within the walk).
    void snapshotMoveTo(uint32_t index);
    void snapshotClear();
    // The next (previous) node, or with `leavesOnly` leaf, in walk order from a non-empty
    // path; End when there is none (the path empty, m_atRoot unchanged).
    void snapshotStep(Direction direction, bool leavesOnly);
    // The snapshot entry of the current node while the iterator stands on a node below the
    // traversal root and its snapshot is in step and current; otherwise null.
    const KaCPreorderWalkCache* currentSnapshot() const {
        return m_inSync && !m_path.empty() && m_snapshot &&
                       m_traversalRoot->GetWalkGeneration() == m_rootGeneration
                   ? m_snapshot.get()
                   : nullptr;
    }
    uint32_t currentPathIndex() const { return m_pathIndices.back(); }

    std::vector<PathEntry> m_path;
    CbSmartPointer<KaCTransformationNode> m_traversalRoot;
    bool m_atRoot = true;
    bool m_singleLeafMode = false;
    CbSmartPointer<KaCTransformationNode> m_singleLeaf;

private:
    // The snapshot state: the snapshot, the snapshot index of each path entry (valid while
    // m_inSync), the traversal root's index, end index and walk generation, and the
    // schedule of requests for a snapshot.
    std::shared_ptr<const KaCPreorderWalkCache> m_snapshot;
    std::vector<uint32_t> m_pathIndices;
    uint64_t m_rootGeneration = 0;
    uint32_t m_rootIndex = 0;
    uint32_t m_endIndex = 0;
    uint32_t m_stepsSinceRequest = 0;
    uint32_t m_requestGap = 0;
    bool m_inSync = false;
};
