#pragma once

// Included by KaCTransformationNode.h; include that header instead.

#include <functional>
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
// A value type: copying duplicates the path and shares the node references. It observes
// nothing: any change of a child list on the path (or of the traversal root's) makes it
// unusable, so callers keep the tree unchanged while they walk it. Not synchronised.
// A step appends or removes path entries at the end only and computes at most one 4x4
// product per appended entry; it allocates only when the path grows beyond its capacity.
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
    void removeLast() { m_path.pop_back(); }
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

    std::vector<PathEntry> m_path;
    CbSmartPointer<KaCTransformationNode> m_traversalRoot;
    bool m_atRoot = true;
    bool m_singleLeafMode = false;
    CbSmartPointer<KaCTransformationNode> m_singleLeaf;
};
