#pragma once

#include <unordered_set>
#include <vector>

#include "platform/harbor/CbCheckReturn.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbIDumpable.h"
#include "platform/harbor/CbMap.h"
#include "platform/harbor/CbSingleton.h"
#include "platform/lattice/CyDataHandleLockOnly.h"
#include "platform/lattice/CyDataManager.h"
#include "platform/lattice/CyUniqueID.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

// The one object through which trees are built and changed. It creates every node and
// keeps it alive in an ID map until DeleteNode, links nodes into fathers and children,
// detaches and deletes subtrees, renews the revisions of every father whose child list it
// changes, and keeps the data-manager mirror in step with each structural change.
//
// Thread safety: a re-entrant critical section guards the ID map and the root; every
// lookup, registration and deletion takes it. The structural edits (child lists, father
// links, revisions) take no lock of the manager: callers that share a mirrored tree hold
// write access to the nodes they change through data-manager handles. Editing operations
// throw CbException when a child already has another father and
// CbExceptionPreconditionViolation for missing arguments or a child that is not one.
class KaCTransformationNodeManager : public CbSingleton<KaCTransformationNodeManager>,
                                     public CbIDumpable<1> {
public:
    using ChildPosition = KaCTransformationNodeInner::ChildList::iterator;

    CbCriticalSection& GetCriticalSection() const { return m_criticalSection; }

    // --- Creation. Every node made here is registered in the ID map.
    // A new inner node described "Root", set as the root (SetRootNode).
    CbSmartPointer<KaCTransformationNodeInner> CreateRootNode();
    CbSmartPointer<KaCTransformationNodeInner> CreateInnerNode();
    // A new visible leaf holding `model`.
    CbSmartPointer<KaCTransformationNodeLeaf> CreateLeafNode(
        CbSmartPointer<const KaCModelCCT> model);
    CbSmartPointer<KaCTransformationNodeLeaf> CreateLeafNodeFromSurfelCollection(
        CbSmartPointer<KaCSurfelCollectionCCT> collection);

    // --- Lookup and deletion
    CbSmartPointer<KaCTransformationNode> GetNodeByID(CyUniqueID id) const;
    CbSmartPointer<KaCTransformationNode> GetRootNode();
    // Removes the node's entry from the ID map; links, mirror and the node stay as they are.
    void DeleteNode(CbSmartPointer<KaCTransformationNode> node);
    // Registers every node of `node`'s subtree (nodes read from a stream, for instance).
    // Throws CbException, registering nothing, when an ID already names another node.
    void RegisterSubtree(CbSmartPointer<KaCTransformationNode> node);
    // The registered nodes, in the map's order (a snapshot).
    std::vector<CbSmartPointer<KaCTransformationNode>> GetRegisteredNodes() const;
    size_t GetNrRegisteredNodes() const;

    // --- Editing
    // Appends `child` as the last child (atEnd) or makes it the first child.
    void AppendChild(CbSmartPointer<KaCTransformationNodeInner> father,
                     CbSmartPointer<KaCTransformationNode> child, bool atEnd);
    // Inserts `child` immediately before `sibling`, or last when `sibling` is not a child.
    void InsertChild(CbSmartPointer<KaCTransformationNodeInner> father,
                     CbSmartPointer<const KaCTransformationNode> sibling,
                     CbSmartPointer<KaCTransformationNode> child);
    // Inserts `child` at `position` of `father`'s child list. Nothing happens when `father`
    // already is its father; another father throws CbException and changes nothing.
    void InsertChild(CbSmartPointer<KaCTransformationNodeInner> father, ChildPosition position,
                     CbSmartPointer<KaCTransformationNode> child);
    // Unlinks `child`; it stays registered. A null father does nothing.
    void RemoveChild(CbSmartPointer<KaCTransformationNodeInner> father,
                     CbSmartPointer<KaCTransformationNode> child);
    // `newChild` takes `oldChild`'s place; the old subtree is dismantled and unregistered.
    void ReplaceChild(CbSmartPointer<KaCTransformationNodeInner> father,
                      CbSmartPointer<KaCTransformationNode> oldChild,
                      CbSmartPointer<KaCTransformationNode> newChild);
    // `newChild` takes `oldChild`'s place; the old subtree survives, detached and registered.
    void ExchangeChild(CbSmartPointer<KaCTransformationNodeInner> father,
                       CbSmartPointer<KaCTransformationNode> oldChild,
                       CbSmartPointer<KaCTransformationNode> newChild);
    // Moves `node` with its subtree below `newFather`, before `before` when that is a child
    // of `newFather`, else last. A node already below `newFather` is not reordered.
    void MoveNode(CbSmartPointer<KaCTransformationNodeInner> newFather,
                  CbSmartPointer<KaCTransformationNode> node,
                  CbSmartPointer<KaCTransformationNode> before);

    // --- Data manager binding and mirror. Calling order: SetDataManager, SetRootNode (or
    // CreateRootNode), editing; UnsetRootNode before UnsetDataManager. While a root is set,
    // every node linked below it is mirrored into the data manager and registered.

    // Binds the manager; false (and no change) when one is bound already, `parent` is null
    // or `parent` is not a node of `dataManager`. Does not mirror an existing tree.
    [[nodiscard]] bool SetDataManager(CyDataManager& dataManager, CbSmartPointer<CyNode> parent);
    // Unbinds; false (and no change) while a root is set.
    [[nodiscard]] bool UnsetDataManager();
    // The bound data manager; throws CbExceptionPreconditionViolation when none is bound.
    CyDataManager& GetDataManager() const;
    // Mirrors `root` under the data parent node with everything below it and registers it.
    // Throws CbException for a null root, a root with father, an already mirrored root, a set
    // root, or a missing or foreign data parent node; nothing changes then.
    void SetRootNode(CbSmartPointer<KaCTransformationNodeInner> root);
    // Takes the tree out of the data manager and the ID map and dismantles it; requires the
    // calling thread's write access to a mirrored root, otherwise does nothing.
    void UnsetRootNode();
    bool IsNodeInDataManager(CbSmartPointer<const KaCTransformationNode> node) const;
    // `node` as its data node when mirrored, else null.
    CbSmartPointer<CyNode> GetDataNode(CbSmartPointer<KaCTransformationNode> node) const;
    CbSmartPointer<const CyNode> GetDataNodeConst(
        CbSmartPointer<const KaCTransformationNode> node) const;
    // Mirrors `node`'s subtree below its father's data node and registers its nodes.
    void AddSubtreeToDataManager(CbSmartPointer<KaCTransformationNode> node);

    // --- Handles and locking. Handles only instantiate requests of the calling thread;
    // Lock/TryLock/TryLockAndWait grant them together.
    struct ReadHandle : CyDataHandleLockOnly<0> {
        ReadHandle() = default;
        ReadHandle(const CyDataHandleLockOnly<0>& handle)
            : CyDataHandleLockOnly<0>(handle) {}  // NOLINT
    };
    struct WriteHandle : CyDataHandleLockOnly<1> {
        WriteHandle() = default;
        WriteHandle(const CyDataHandleLockOnly<1>& handle)
            : CyDataHandleLockOnly<1>(handle) {}  // NOLINT
    };
    // A request for `node`, or an empty handle when `node` is null or not mirrored.
    CyDataHandleLockOnly<0> GetReadHandle(CbSmartPointer<const KaCTransformationNode> node) const;
    CyDataHandleLockOnly<1> GetWriteHandle(CbSmartPointer<KaCTransformationNode> node) const;
    // Assigns a request for a mirrored tree node given as data node; leaves `handle` as it was
    // for any other node.
    void GetHandle(CbSmartPointer<const CyNode> dataNode, CyDataHandleLockOnly<0>& handle) const;
    void GetHandle(CbSmartPointer<CyNode> dataNode, CyDataHandleLockOnly<1>& handle) const;
    // Requests and acquires access to one node: 100 ms attempts, retried while they time
    // out; throws CbException for any other failure (after a warning line).
    CyDataHandleLockOnly<0> GetSingleReadHandleLocked(
        CbSmartPointer<const KaCTransformationNode> node);
    CyDataHandleLockOnly<1> GetSingleWriteHandleLocked(CbSmartPointer<KaCTransformationNode> node);
    // Grants the calling thread's pending requests, waiting up to 10 s; throws CbException
    // (after a warning line with the cause) when that fails.
    void Lock();
    CbCheckReturn<bool> TryLock();
    CbCheckReturn<bool> TryLockAndWait(unsigned int milliseconds);
    CbCheckReturn<bool> TryLockAndWait(unsigned int milliseconds,
                                       CyDataManager::ELockStatus& status);
    // Whether the calling thread holds read (write) access to a mirrored node.
    bool IsReadLocked(CbSmartPointer<const KaCTransformationNode> node) const;
    bool IsWriteLocked(CbSmartPointer<KaCTransformationNode> node) const;
    // True for a null or unmirrored node, else as IsReadLocked (IsWriteLocked).
    bool IsNotManagedOrReadLocked(CbSmartPointer<const KaCTransformationNode> node) const;
    bool IsNotManagedOrWriteLocked(CbSmartPointer<KaCTransformationNode> node) const;

    // --- Consistency. The checks never throw and never log; for a mirrored tree they
    // depend on the calling thread's access, so a tree may be valid for one thread only.
    CbCheckReturn<bool, CbCheckReturnPolicyAssert> IsValid() const;
    CbCheckReturn<bool, CbCheckReturnPolicyAssert> IsValid(
        CbSmartPointer<const KaCTransformationNode> node) const;

    // The tree as indented text: one line per node, one space per ancestor, "[leaf]" marks.
    void dump(CbStreamWriteASCII& stream) const override;

protected:
    KaCTransformationNodeManager();
    ~KaCTransformationNodeManager() override;

    void logIDMap(const char* title) const;

private:
    friend class CbSingleton<KaCTransformationNodeManager>;

    void initCreatedTransformationNode(const CbSmartPointer<KaCTransformationNode>& node);
    // The bound data manager or null, read under the critical section.
    CyDataManager* boundDataManager() const;
    void removeChild(CbSmartPointer<KaCTransformationNodeInner> father, ChildPosition position);
    void deleteSubtree(CbSmartPointer<KaCTransformationNode> node);
    // The position of `child` in `father`'s child list; throws when it is not there.
    static ChildPosition requireChild(KaCTransformationNodeInner& father,
                                      const CbSmartPointer<KaCTransformationNode>& child);
    static void renewRevisions(KaCTransformationNode& node) { node.NewNodeRevision(0xFFFFFFFFu); }
    // The first half of a replacement: `oldChild` leaves the mirror and its father link;
    // returns its slot, which the second half fills with the new child.
    size_t detachInPlace(KaCTransformationNodeInner& father,
                         const CbSmartPointer<KaCTransformationNode>& oldChild);
    void attachInPlace(const CbSmartPointer<KaCTransformationNodeInner>& father, size_t index,
                       const CbSmartPointer<KaCTransformationNode>& newChild, bool registerIds);
    static void link(KaCTransformationNodeInner& father, ChildPosition position,
                     const CbSmartPointer<KaCTransformationNode>& child);

    // Mirror steps.
    void addNodeToDataManager(CbSmartPointer<KaCTransformationNode> node, bool registerIds);
    void addSubtreeToDataManager(CbSmartPointer<KaCTransformationNode> node, bool registerIds);
    void removeNodeFromDataManager(CbSmartPointer<KaCTransformationNode> node);
    void removeSubtreeFromDataManager(CbSmartPointer<KaCTransformationNode> node);
    // Drops the IDs of the subtree's nodes from the ID map.
    void unregisterSubtree(const KaCTransformationNode& node);
    void moveInDataManager(CbSmartPointer<KaCTransformationNode> node,
                           CbSmartPointer<KaCTransformationNodeInner> newFather);
    void destroySubtree(CbSmartPointer<KaCTransformationNode> node);

    template <int Access, class Node>
    void getSingleHandleLocked(const Node& node, CyDataHandleLockOnly<Access>& handle,
                               const wchar_t* kindName);

    CbCheckReturn<bool, CbCheckReturnPolicyAssert> checkIsNodeConsistent(
        CbSmartPointer<const KaCTransformationNode> node) const;
    // The father and mirror links of a child that `father`'s list is known to hold.
    CbCheckReturn<bool, CbCheckReturnPolicyAssert> checkIsFatherAndChildConsistent(
        CbSmartPointer<const KaCTransformationNodeInner> father,
        CbSmartPointer<const KaCTransformationNode> child) const;
    // `node` itself and the links to the children its list holds, which go into `listed`
    // unless it is null; not the link to its own father.
    bool checkNodeAndChildren(const CbSmartPointer<const KaCTransformationNode>& node,
                              std::unordered_set<const KaCTransformationNode*>* listed) const;

    mutable CbCriticalSection m_criticalSection;
    CbMap<CyUniqueID, CbSmartPointer<KaCTransformationNode>> m_idMap;
    CyDataManager* m_dataManager = nullptr;  // not owned
    CbSmartPointer<CyNode> m_dataParentNode;
    CbSmartPointer<KaCTransformationNode> m_root;
};
