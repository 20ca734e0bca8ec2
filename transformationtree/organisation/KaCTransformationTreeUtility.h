#pragma once

#include "platform/harbor/CbMap.h"
#include "platform/harbor/CbSingleton.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

class KaCTransformationNodeManager;

// Tree operations built from the node manager's primitives: deep copies, leaves for new
// scans, replacement of a leaf for a new version of its scan, removal of subtrees with
// full cleanup, and the restructuring operations (collapse, merge, balance) that keep
// every scan at its place relative to the subtree's top. Operations with a `post` argument
// announce their changes as tree-structure messages when it is true; CreateLeaf and
// PrepareForNextChild always post. A null node where an operation needs one throws
// CbExceptionPreconditionViolation before anything changes.
//
// Stateless. Takes no lock of its own: callers that share a mirrored tree hold write
// access to the nodes involved. Exceptions of the node manager propagate, leaving the part
// already done in place; a maximal child count below 2 is refused with CbException.
class KaCTransformationTreeUtility : public CbSingleton<KaCTransformationTreeUtility> {
public:
    using CopyToSourceMap = CbMap<CbSmartPointer<const KaCTransformationNode>,
                                  CbSmartPointer<const KaCTransformationNode>>;

    // --- Copying, creating, removing

    // A deep copy of `source` (new, registered, unlinked nodes) taking over each source
    // node's state by AssumeAttributes(source, attributes). Leaves share their model, or
    // with `copyModels` get a clone of it (none when the model's class cannot be cloned).
    // With a map, each copy is entered with its source, children before fathers.
    CbSmartPointer<KaCTransformationNode> CopySubtree(
        CbSmartPointer<const KaCTransformationNode> source,
        KaCTransformationNode::EAttributesToCopy attributes, CopyToSourceMap* copyToSource,
        bool copyModels);
    // A new leaf for a scan: described by the model's file name, placed by `*trafo`,
    // announced by a transformation-changed message (before it is linked), then appended to
    // `father` if there is one. Null (and nothing done) for a null model; a null `trafo`
    // throws CbExceptionPreconditionViolation.
    CbSmartPointer<KaCTransformationNodeLeaf> CreateLeaf(
        CbSmartPointer<KaCTransformationNodeInner> father, CbSmartPointer<const KaCModelCCT> model,
        CbMatrix4Rd* trafo);
    // A leaf for `model` that takes `oldLeaf`'s place and state; the old leaf is detached
    // and unregistered.
    CbSmartPointer<KaCTransformationNodeLeaf> CreateLeafAndReplace(
        CbSmartPointer<KaCTransformationNodeLeaf> oldLeaf, CbSmartPointer<const KaCModelCCT> model);
    // Removes `node` and everything below it from the tree, the data manager and the ID
    // map, depth first: children first to last, each node after its descendants.
    void RemoveSubtree(CbSmartPointer<KaCTransformationNode> node, bool post);
    // Removes every child subtree of `node`; `node` stays.
    void RemoveChildren(CbSmartPointer<KaCTransformationNodeInner> node, bool post);
    // Resets `node`'s attributes, then removes its children.
    void ClearAndRemoveChildren(CbSmartPointer<KaCTransformationNodeInner> node, bool post);

    // --- Restructuring

    // Hangs every leaf of the subtree directly below `node`, in acquisition order after the
    // leaves that already hang there, and removes every inner node below it.
    void CollapseAll(CbSmartPointer<KaCTransformationNodeInner> node, bool post);
    // Moves `source`'s children below `target`, each transformed by `trafo` (its relative
    // trafo × trafo), removes `source`, and drops `target`'s model. Does nothing for null
    // arguments, arguments without leaves, or arguments of which exactly one is mirrored;
    // a `target` in `source`'s subtree (or `source` itself) throws
    // CbExceptionPreconditionViolation.
    void MergeInnerNodes(CbSmartPointer<KaCTransformationNodeInner> source,
                         CbSmartPointer<KaCTransformationNodeInner> target,
                         const CbMatrix4Rd& trafo, bool post);
    // Rebuilds `node`'s subtree as a balanced tree in which no inner node has more than
    // `maxChildren` children, the leaves (copies of the old ones) in their old order and at
    // their old places relative to `node`.
    void NormalizeTreeStructure(CbSmartPointer<KaCTransformationNodeInner> node, int maxChildren,
                                bool post);
    // The inner node that is to receive the next child of a structure growing below `top`:
    // `current` while it has room, else a new "Inner" node, adding a level above `top` (and
    // updating `top`) when `top` itself is full. Null when a full top has no father.
    CbSmartPointer<KaCTransformationNodeInner> PrepareForNextChild(
        CbSmartPointer<KaCTransformationNodeInner> current, unsigned int maxChildren,
        CbSmartPointer<KaCTransformationNodeInner>& top);

private:
    friend class CbSingleton<KaCTransformationTreeUtility>;

    KaCTransformationTreeUtility() = default;
    ~KaCTransformationTreeUtility() override = default;

    static KaCTransformationNodeManager& getNodeManager();
};
