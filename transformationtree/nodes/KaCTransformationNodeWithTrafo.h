#pragma once

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/harbor/CbSmartPointer.h"

class KaCTransformationNode;
class KaCTransformationNodeInner;
class KaCTransformationNodeLeaf;

// What node iterators yield: a node, its transformation into the frame of the node where
// the walk started (the traversal root), and the inverse of its father's transformation
// into that frame, so that the node can be moved to a given pose in the traversal root's
// frame without walking the tree again.
//
// A plain value, copied freely. Construction throws CyExceptionNotInvertible when the
// father's transformation is singular.
class KaCTransformationNodeWithTrafo {
public:
    KaCTransformationNodeWithTrafo(CbSmartPointer<KaCTransformationNode> node,
                                   const CbMatrix4Rd& trafo, const CbMatrix4Rd& fatherTrafo);
    KaCTransformationNodeWithTrafo(const KaCTransformationNodeWithTrafo&);
    KaCTransformationNodeWithTrafo& operator=(const KaCTransformationNodeWithTrafo&);
    virtual ~KaCTransformationNodeWithTrafo();

    // Same node (by identity); the matrices are not compared.
    bool operator==(const KaCTransformationNodeWithTrafo& other) const;

    CbSmartPointer<KaCTransformationNode> GetNode();
    CbSmartPointer<const KaCTransformationNode> GetNode() const;
    // The node as an inner node, or null when it is a leaf (or absent).
    CbSmartPointer<KaCTransformationNodeInner> GetInnerNode();
    // The node as a leaf, or null when it is an inner node (or absent).
    CbSmartPointer<KaCTransformationNodeLeaf> GetLeafNode();

    // The node's transformation into the traversal root's frame.
    const CbMatrix4Rd& GetTrafo() const { return m_trafoToTraversalRoot; }
    // The inverse of the father's transformation into the traversal root's frame.
    const CbMatrix4Rd& GetInverseFatherTrafo() const { return m_inverseFatherTrafo; }

    // Moves the node so that its transformation into the traversal root becomes `trafo`:
    // relative trafo = trafo × inverse father trafo, drawing a new transformation revision.
    // This value's own GetTrafo() is left as it was.
    void SetTrafoToTraversalRoot(const CbMatrix4Rd& trafo);

private:
    CbSmartPointer<KaCTransformationNode> m_node;
    CbMatrix4Rd m_trafoToTraversalRoot;
    CbMatrix4Rd m_inverseFatherTrafo;
};
