#pragma once

#include <cstdint>
#include <vector>

#include "transformationtree/nodes/KaCTransformationNode.h"

// The grouping node of the tree: an ordered list of children (inner nodes or leaves) and,
// optionally, a model of its own that stands for its whole subtree (built by CreateModel
// or handed in with SetModel). Roots, clusters and every other group of scans are inner
// nodes. Children are held strongly; each child's father link names this node.
//
// Only the node manager and structure reading change the child list; this class offers
// reading access, the model slot, subtree revisions, counts, the bounding box and the walks.
// Thread safety as for every node: callers that share a tree hold the data manager's
// access; the revision operations lock one node at a time.
class KaCTransformationNodeInner : public KaCTransformationNode {
    CB_DECLARE_RTTI()

public:
    using ChildList = std::vector<CbSmartPointer<KaCTransformationNode>>;

    ~KaCTransformationNodeInner() override;

    void CreateModel(bool useCollectionType4, float cellSize, float samplerParameter) override;
    CbSmartPointer<const KaCModelCCT> GetModel() const override { return m_model; }
    // The revision stamp handed in with the current model (-1 when there is none).
    int64_t GetModelRevision() const override { return m_modelRevisionStamp; }
    bool IsLeaf() const override { return false; }
    bool IsKeyframe() const override { return false; }
    bool EmptyLeafs() override;
    // The box, in the frame `trafo` maps into, of all scans below this node, computed in
    // float: each leaf's model box transformed by (leaf's accumulated trafo) × trafo.
    CyBoundingBox3D GetBoundingBox(const CbMatrix4Rd& trafo) const override;
    // Takes another inner node's base state; with eAttributesAndModel and as many children
    // as this node, also its model and stamp. A leaf source changes nothing.
    void AssumeAttributes(CbSmartPointer<const KaCTransformationNode> source,
                          EAttributesToCopy what) override;
    int64_t GetNodeRevisionSubtree(unsigned int mask) const override;
    void GetNodeRevisionsSubtree(int64_t revisions[2]) const override;
    void UpdateNodeRevisionSubtree(int64_t* revisions) override;
    void SerializeStructure(CbStreamReadBinary& stream) override;
    void SerializeStructure(CbStreamWriteBinary& stream) const override;

    KaNNodeIterator BeginNode() override;
    KaNNodeIterator LastNode() override;
    KaNNodeIterator EndNode() override;
    CbSmartPointer<KaCTransformationNode> BackNode() override;
    KaNLeafNodeIterator BeginLeaf() override;
    KaNLeafNodeIterator LastLeaf() override;
    KaNLeafNodeIterator EndLeaf() override;
    CbSmartPointer<KaCTransformationNodeLeaf> FrontLeaf() override;
    CbSmartPointer<KaCTransformationNodeLeaf> BackLeaf() override;
    uint64_t GetNrLeafNodes() const override;
    KaNKeyFrameNodeIterator BeginKeyframe() override;
    KaNCachedLeafNodeIterator BeginCachedLeaf() override;
    KaNCachedLeafNodeIterator LastCachedLeaf() override;
    KaNCachedLeafNodeIterator EndCachedLeaf() override;
    CbSmartPointer<KaCTransformationNode> FrontCachedLeaf() override;
    CbSmartPointer<KaCTransformationNode> BackCachedLeaf() override;
    uint64_t GetNrCachedLeafNodes() override;
    KaNSurfelIterator BeginSurfel() override;
    KaNRandomAccessSurfelIterator GetRas() override;
    KaNRandomSamplingSurfelIterator BeginRss(int every) override;

    // The latest model revision among the leaves of the subtree, or -1.
    virtual int64_t GetDataNodeRevisionSubtree() const;
    virtual KaNInnerNodeIterator BeginInner();
    virtual KaNInnerNodeIterator LastInner();
    virtual KaNInnerNodeIterator EndInner();

    // An iterator positioned on `node` (or `leaf`) of this subtree, with the
    // transformations a walk from here would have reached; End for a node outside it.
    KaNNodeIterator Find(CbSmartPointer<KaCTransformationNode> node);
    KaNLeafNodeIterator Find(CbSmartPointer<KaCTransformationNodeLeaf> leaf);

    // --- Children (read access; edits go through the node manager)
    ChildList::iterator BeginChild() { return m_children.begin(); }
    ChildList::iterator EndChild() { return m_children.end(); }
    ChildList::const_iterator BeginChild() const { return m_children.begin(); }
    ChildList::const_iterator EndChild() const { return m_children.end(); }
    // The last child, or EndChild() when there are none.
    ChildList::iterator LastChild();
    ChildList::const_iterator LastChild() const;
    // The first child that is `child` (by identity), or EndChild().
    ChildList::iterator FindChild(CbSmartPointer<KaCTransformationNode> child);
    ChildList::const_iterator FindChild(CbSmartPointer<const KaCTransformationNode> child) const;
    CbSmartPointer<KaCTransformationNode> FrontChild();
    CbSmartPointer<KaCTransformationNode> BackChild();
    CbSmartPointer<const KaCTransformationNode> FrontChild() const;
    CbSmartPointer<const KaCTransformationNode> BackChild() const;
    uint64_t GetNrChildren() const { return m_children.size(); }
    // Positions in the child list (which walks hold) may move.
    void ReserveChildren(uint64_t count) {
        m_children.reserve(count);
        noteWalkChange();
    }
    const ChildList& GetChildren() const { return m_children; }

    // --- Model slot. No node revision is drawn.
    void SetModel(CbSmartPointer<const KaCModelCCT> model, int64_t revision);
    void DeleteModel();

private:
    friend class KaCTransformationNodeManager;
    friend class KaCTransformationTreeSerializer;
    friend class KaCTransformationNodeSerializationIDMapper;

    KaCTransformationNodeInner();
    // A node to be read from a stream, carrying `id` (see KaCTransformationNode).
    explicit KaCTransformationNodeInner(const CyUniqueID& id);
    // Copies the base state (new ID, no father, model or attributes), the child list (the
    // same children, whose father link still names `other`) and the model revision stamp.
    KaCTransformationNodeInner(const KaCTransformationNodeInner& other);

    CB_DECLARE_FACTORIES(KaCTransformationNodeInner)

    void readStructureVersion1(CbStreamReadBinary& stream);

    ChildList m_children;
    int64_t m_modelRevisionStamp = -1;
};
