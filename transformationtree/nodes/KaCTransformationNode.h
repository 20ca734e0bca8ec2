#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/abacus/CbMatrix4Rf.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbCriticalSection.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbWeakPointer.h"
#include "platform/lattice/CyNode.h"
#include "platform/lattice/CyUniqueID.h"
#include "platform/mosaic/KaARTTIAttributeContainer.h"
#include "platform/prism/CyBoundingBox3D.h"
#include "platform/prism/CyBoundingSphere.h"
#include "transformationtree/nodes/KaCTransformationNodeWithTrafo.h"

class KaCTransformationNodeInner;
class KaCTransformationNodeLeaf;
class KaCTransformationNodeManager;
class KaCTransformationNodeSerializationIDMapper;
class KaCNodeVector;
class KaCPreorderWalkCache;
class KaCTransformationTreeSerializer;

// Abstract base of every node of the transformation tree: a stable identity, a weak link
// to the father, an optional model, the rigid transformation from the node's frame into
// its father's (the relative trafo), a description, two revisions drawn from one
// process-wide counter (index 0 model, index 1 transformation), flags and attributes.
// Every node is also a CyNode, so the very same object can live in the data manager. Its
// name (the CyNode name slot) is the text of the ID it was made with, made when first asked
// for.
//
// Nodes are created only by the node manager and the run-time type factories; the node
// manager alone links them. Thread safety: the two revisions are guarded by the node's
// revision lock (taken before the global revision lock, never the other way round) and
// GetFather is safe while the father dies; every other field is guarded by the data
// manager's read and write access, which callers that share a tree hold. Iterators store
// positions in child lists: the tree must not change while they are in use. The walk
// generation and the pre-order snapshot slot are the walks' (see KaCPreorderWalkCache).
class KaCTransformationNode : public CyNode {
    CB_DECLARE_RTTI()

public:
    // What AssumeAttributes takes over besides the base state.
    enum EAttributesToCopy : int32_t {
        eAttributesOnly = 0,
        eAttributesAndModel = 1,  // an inner node also takes the source's model
    };

    class KaNNodeIterator;
    class KaNLeafNodeIterator;
    class KaNKeyFrameNodeIterator;
    class KaNCachedLeafNodeIterator;
    class KaNInnerNodeIterator;
    class KaNFatherIterator;
    class KaNSurfelIterator;
    class KaNRandomAccessSurfelIterator;
    class KaNRandomSamplingSurfelIterator;

    ~KaCTransformationNode() override;

    // --- Model building (the inner node builds, the leaf does nothing)
    virtual void CreateModel(bool useCollectionType4, float cellSize, float samplerParameter) = 0;
    virtual CbSmartPointer<const KaCModelCCT> GetModel() const = 0;
    virtual int64_t GetModelRevision() const = 0;
    virtual bool IsLeaf() const = 0;
    virtual bool IsKeyframe() const = 0;
    // True when the subtree holds no leaf.
    virtual bool EmptyLeafs() = 0;
    virtual CyBoundingBox3D GetBoundingBox(const CbMatrix4Rd& trafo) const = 0;
    // Takes over the relative trafo, the description and the visible flag of `source`
    // (subclasses restrict and extend this). No revision is drawn.
    virtual void AssumeAttributes(CbSmartPointer<const KaCTransformationNode> source,
                                  EAttributesToCopy what);
    // The largest selected revision of the subtree, -1 when there is none.
    virtual int64_t GetNodeRevisionSubtree(unsigned int mask) const = 0;
    // Both subtree maxima from one walk of the subtree: GetNodeRevisionSubtree of the model
    // revision into revisions[0], of the transformation revision into revisions[1].
    virtual void GetNodeRevisionsSubtree(int64_t revisions[2]) const = 0;
    // Raises the inner nodes' revisions to their subtree maxima; reports this node's two
    // revisions into `revisions` (model first) unless it is null.
    virtual void UpdateNodeRevisionSubtree(int64_t* revisions) = 0;
    // The structure record: the node base record, then the subclass's record.
    virtual void SerializeStructure(CbStreamReadBinary& stream);
    virtual void SerializeStructure(CbStreamWriteBinary& stream) const;

    // --- Walks (the traversal root is this node; see the iterator classes)
    virtual KaNNodeIterator BeginNode() = 0;
    virtual KaNNodeIterator LastNode() = 0;
    virtual KaNNodeIterator EndNode() = 0;
    virtual CbSmartPointer<KaCTransformationNode> BackNode() = 0;
    virtual KaNLeafNodeIterator BeginLeaf() = 0;
    virtual KaNLeafNodeIterator LastLeaf() = 0;
    virtual KaNLeafNodeIterator EndLeaf() = 0;
    virtual CbSmartPointer<KaCTransformationNodeLeaf> FrontLeaf() = 0;
    virtual CbSmartPointer<KaCTransformationNodeLeaf> BackLeaf() = 0;
    virtual uint64_t GetNrLeafNodes() const = 0;
    virtual KaNKeyFrameNodeIterator BeginKeyframe() = 0;
    virtual KaNCachedLeafNodeIterator BeginCachedLeaf() = 0;
    virtual KaNCachedLeafNodeIterator LastCachedLeaf() = 0;
    virtual KaNCachedLeafNodeIterator EndCachedLeaf() = 0;
    virtual CbSmartPointer<KaCTransformationNode> FrontCachedLeaf() = 0;
    virtual CbSmartPointer<KaCTransformationNode> BackCachedLeaf() = 0;
    virtual uint64_t GetNrCachedLeafNodes() = 0;
    virtual KaNSurfelIterator BeginSurfel() = 0;
    virtual KaNRandomAccessSurfelIterator GetRas() = 0;
    virtual KaNRandomSamplingSurfelIterator BeginRss(int every) = 0;

    // --- Identity
    CyUniqueID GetID() const { return m_id; }
    // The ID of `node`, or the invalid ID for an empty reference.
    static CyUniqueID GetID(const CbSmartPointer<const KaCTransformationNode>& node);
    static const CyUniqueID& GetInvalidID();

    // --- Tree position: the father, or null when there is none or it no longer exists.
    CbSmartPointer<KaCTransformationNodeInner> GetFather();
    CbSmartPointer<const KaCTransformationNodeInner> GetFather() const;

    // --- Transformation
    const CbMatrix4Rd& GetRelativeTrafo() const { return m_relativeTrafo; }
    // The transformation from this node's frame into `ancestor`'s; with an empty or
    // unrelated `ancestor` the walk runs to the root and includes the root's trafo.
    CbMatrix4Rd GetRelativeTrafo(CbSmartPointer<const KaCTransformationNodeInner> ancestor) const;
    // Replaces the relative trafo and draws a new transformation revision.
    void SetRelativeTrafo(const CbMatrix4Rd& trafo);
    // Sets the relative trafo so that the transformation into `ancestor` becomes `trafo`.
    // Throws CbException for a node without father (after a warning) and
    // CyExceptionNotInvertible for a singular father-to-ancestor transformation; the node is
    // unchanged then.
    void SetRelativeTrafo(const CbMatrix4Rd& trafo,
                          CbSmartPointer<const KaCTransformationNodeInner> ancestor);

    // --- Revisions. A mask selects the model revision, the transformation revision or
    // both; other bits are ignored.
    enum ERevisionMask : unsigned int {
        eRevisionModel = 1u,
        eRevisionTrafo = 2u,
        eRevisionAll = eRevisionModel | eRevisionTrafo,
    };
    int64_t GetNodeRevision(unsigned int mask) const;
    // Both of this node's revisions under one lock: GetNodeRevision of the model revision
    // into revisions[0], of the transformation revision into revisions[1].
    void GetNodeRevisions(int64_t revisions[2]) const;
    void NewNodeRevision(unsigned int mask);
    void SetNodeRevision(int64_t revision, unsigned int mask);

    // --- Walk generation: raised on this node and every ancestor by each change of a
    // child list or a relative trafo in the subtree (see KaCPreorderWalkCache).
    uint64_t GetWalkGeneration() const { return m_walkGeneration.load(std::memory_order_acquire); }

    // --- Flags and text
    void SetVisible(bool visible) { m_visible = visible; }
    bool IsVisible() const { return m_visible; }
    void SetCleanedUp(bool cleanedUp) { m_cleanedUp = cleanedUp; }
    bool IsCleanedUp() const { return m_cleanedUp; }
    // Stores the text; an inner node with a model also renames the model.
    void SetDescription(const std::wstring& description);
    // The text, for a caller with access to the node.
    const std::wstring& GetDescription() const { return m_description; }
    // A copy of the text that a thread may take without access to the node (to name the
    // node in a log line while it waits for access): taken under the node's lock, which
    // SetDescription holds while it writes.
    std::wstring GetDescriptionCopy() const;

    // --- Attributes, passed through to the node's attribute container
    void SetAttribute(CbSmartPointer<KaARTTIAttribute> attribute) {
        m_attributes.SetAttribute(std::move(attribute));
    }
    void SetAttributes(KaARTTIAttributeContainer& attributes) {
        m_attributes.SetAttributes(attributes);
    }
    void CopyAttributesFrom(const KaCTransformationNode& other) {
        m_attributes.CopyAttributesFrom(other.m_attributes);
    }
    void CopyAttributesFrom(const KaARTTIAttributeContainer& attributes) {
        m_attributes.CopyAttributesFrom(attributes);
    }
    void DeleteAttribute(const CbRTTI& record) { m_attributes.DeleteAttribute(record); }
    void DeleteAttributes(const std::vector<const CbRTTI*>& records) {
        m_attributes.DeleteAttributes(records);
    }
    void ResetAttributes() { m_attributes.ResetAttributes(); }
    void ClearAttributeContainer() { m_attributes.ClearAttributeContainer(); }
    const KaARTTIAttributeContainer& GetAllAttributes() const { return m_attributes; }
    void SerializeAttributes(CbStreamReadBinary& stream) { m_attributes.Serialize(stream); }
    void SerializeAttributes(CbStreamWriteBinary& stream) const { m_attributes.Serialize(stream); }

    // --- Model building (see ComputeSubsampling in the model-building notes of the class)
    static CbSmartPointer<KaCSurfelCollectionCCT> ComputeSubsampling(
        const KaCNodeVector& nodes, KaCModelCCT::ESurfelCollectionType collectionType,
        float cellSize, float samplerParameter, const CbMatrix4Rf* trafo);
    static CbSmartPointer<KaCSurfelCollectionCCT> ComputeSubsampling(
        const KaCNodeVector& nodes, KaCModelCCT::ESurfelCollectionType collectionType,
        const std::vector<CyBoundingSphere>& spheres, float cellSize, float samplerParameter,
        const CbMatrix4Rf* trafo);

protected:
    KaCTransformationNode();
    explicit KaCTransformationNode(CbSmartPointer<const KaCModelCCT> model);
    // A copy for cloning: relative trafo, description, flags and revisions; a new ID, no
    // father, model or attributes.
    KaCTransformationNode(const KaCTransformationNode& other);
    // A node made to be read from a stream (see KaCTransformationNodeSerializationIDMapper):
    // it carries `id` and is named after it, and its revisions are 0 until its structure
    // record sets them. No ID is generated and no revision drawn, since reading replaces
    // both at once.
    explicit KaCTransformationNode(const CyUniqueID& id);

    // True on a thread that reads a tree of nodes it has just made (see FreshReadScope).
    static bool readingFresh() { return ms_freshRead != nullptr; }

    // The text of the node's ID: its name unless it is given another.
    std::wstring DefaultName() const override;

    // Both revisions, model first, read together under the revision lock.
    void readNodeRevisions(int64_t revisions[2]) const;
    // Raises each revision to the larger of its value and revisions[i] in one locked step
    // and reports the results back into `revisions`.
    void raiseNodeRevisions(int64_t revisions[2]);

    // Raises the walk generation of this node and of every ancestor: called by every
    // change of a child list or a relative trafo (the child list's owner or the node).
    void noteWalkChange();

    // The model slot, shared by both subclasses.
    CbSmartPointer<const KaCModelCCT> m_model;

private:
    friend class KaCTransformationNodeManager;
    friend class KaCTransformationNodeSerializationIDMapper;
    friend class KaCPreorderWalkCache;
    friend class KaCTransformationTreeSerializer;

    // Reading a tree of nodes the reading thread has just made, which nobody else can reach
    // until the read returns them. While one lives on a thread, structure reads on that
    // thread raise no walk generations (no walk can hold a snapshot over such nodes; a walk
    // started later snapshots what it finds) and remember the largest revision read instead
    // of raising the process's revision counter node by node under its lock: Finish raises
    // it once. Without Finish (a failed read) the counter stays as it was, which is right
    // for nodes that are dropped. A scope opened inside another one stands for the inner
    // read until it closes.
    class FreshReadScope {
    public:
        FreshReadScope() : m_outer(ms_freshRead) { ms_freshRead = this; }
        ~FreshReadScope() { ms_freshRead = m_outer; }
        FreshReadScope(const FreshReadScope&) = delete;
        FreshReadScope& operator=(const FreshReadScope&) = delete;
        // Raises the revision counter beyond every revision read in the scope.
        void Finish();

    private:
        friend class KaCTransformationNode;
        FreshReadScope* m_outer;
        int64_t m_largestRevision = -1;
    };
    static thread_local FreshReadScope* ms_freshRead;

    // Writing a whole tree whose root the writing thread holds and keeps unchanged (read
    // access): while one lives on a thread, structure records written on it read the father
    // link unlocked (every node of such a tree is alive) and leave the model mapper's list
    // of referenced models alone (the tree's writer writes the models itself).
    class WholeTreeWriteScope {
    public:
        WholeTreeWriteScope() : m_outer(ms_wholeTreeWrite) { ms_wholeTreeWrite = true; }
        ~WholeTreeWriteScope() { ms_wholeTreeWrite = m_outer; }
        WholeTreeWriteScope(const WholeTreeWriteScope&) = delete;
        WholeTreeWriteScope& operator=(const WholeTreeWriteScope&) = delete;

    private:
        bool m_outer;
    };
    static thread_local bool ms_wholeTreeWrite;

    void setID(const CyUniqueID& id) { m_id = id; }
    void setFather(const CbSmartPointer<KaCTransformationNodeInner>& father);
    void readStructureVersion1(CbStreamReadBinary& stream);

    static int64_t getNextGlobalNodeRevision();
    static void assertGlobalNodeHeadRevisionValid(int64_t revision);

    // Revisions read from a stream may not exceed this, so that the counter, which goes on
    // beyond every revision read, never runs out (drawing past 2^63 - 1 would throw).
    static constexpr int64_t ms_largestStoredRevision = int64_t{1} << 62;
    static int64_t ms_iGlobalNodeHeadRevision;  // guarded by ms_csGlobalNodeHeadRevision
    static CbCriticalSection ms_csGlobalNodeHeadRevision;

    KaARTTIAttributeContainer m_attributes;
    CbWeakPointer<KaCTransformationNodeInner> m_father;
    CbMatrix4Rd m_relativeTrafo;
    std::wstring m_description;
    CyUniqueID m_id;
    // Guards the revisions, and the description against readers without access.
    mutable CbCriticalSection m_revisionLock;
    int64_t m_nodeRevisions[2];  // guarded by m_revisionLock
    bool m_visible = false;
    bool m_cleanedUp = false;
    // The walks' state (see KaCPreorderWalkCache): the generation, this node's index in the
    // last snapshot built that holds it, and the snapshot of its subtree when it keeps one (guarded
    // by the snapshot mutex) with the steps walks took over the nodes since it went stale.
    std::atomic<uint64_t> m_walkGeneration{0};
    std::atomic<uint32_t> m_walkIndex{0};
    std::shared_ptr<const KaCPreorderWalkCache> m_walkCache;
    uint64_t m_walkStepsWithoutCache = 0;  // see KaCPreorderWalkCache; under its mutex
};

// The nested iterator classes, in dependency order (base classes first).
// clang-format off
#include "transformationtree/iterators/KaNNodeIterator.h"
#include "transformationtree/iterators/KaNLeafNodeIterator.h"
#include "transformationtree/iterators/KaNKeyFrameNodeIterator.h"
#include "transformationtree/iterators/KaNCachedLeafNodeIterator.h"
#include "transformationtree/iterators/KaNInnerNodeIterator.h"
#include "transformationtree/iterators/KaNFatherIterator.h"
#include "transformationtree/iterators/KaNSurfelIterator.h"
#include "transformationtree/iterators/KaNRandomAccessSurfelIterator.h"
#include "transformationtree/iterators/KaNRandomSamplingSurfelIterator.h"
// clang-format on
