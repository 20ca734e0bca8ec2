#pragma once

#include <cstddef>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"

// What a Python Node object holds: a strong reference to its node, and one to the root of
// the tree the node was in when it was last used (its anchor). Nodes hold their children
// strongly and their father only weakly, so the node reference keeps the node and its
// subtree alive, and the anchor keeps the ancestors alive: a Python program that keeps any
// node object of a tree keeps the whole tree, and no Python object ever refers to a
// destroyed node. A detached node (removed, or created and not yet appended) is its own
// root, owned by the objects that refer to it.
//
// Every use re-anchors to the node's current root, so a node moved into another tree keeps
// that tree alive from then on. Not synchronised: binding calls hold the tree lock.
class NodeHandle {
public:
    // Throws std::invalid_argument for a null node.
    explicit NodeHandle(CbSmartPointer<KaCTransformationNode> node);

    // The node, after re-anchoring.
    const CbSmartPointer<KaCTransformationNode>& Node() const;
    // The node as an inner node or as a leaf; null when it is the other kind.
    CbSmartPointer<KaCTransformationNodeInner> Inner() const;
    CbSmartPointer<KaCTransformationNodeLeaf> Leaf() const;
    // The topmost ancestor (the node itself when it has no father).
    CbSmartPointer<KaCTransformationNode> Root() const;

    // The transformation from the node's frame into the frame of `ancestor` (row vectors):
    // relative trafo × father's × ... up to, not including, the ancestor's own; the identity
    // for the node itself. Null `ancestor` means the root. False when `ancestor` is neither
    // the node nor one of its ancestors.
    bool TrafoInto(const KaCTransformationNode* ancestor, CbMatrix4Rd& trafo) const;

    bool operator==(const NodeHandle& other) const { return m_node == other.m_node; }
    size_t Hash() const;

private:
    void reanchor() const;

    CbSmartPointer<KaCTransformationNode> m_node;
    mutable CbSmartPointer<KaCTransformationNode> m_anchor;
};
