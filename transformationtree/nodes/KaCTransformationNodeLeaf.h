#pragma once

#include <cstdint>

#include "platform/harbor/CbDateTime.h"
#include "transformationtree/nodes/KaCTransformationNode.h"

// Holds one scan: the model of one acquisition, placed in its father's frame by the
// node's relative trafo, with three flags the application sets (keyframe, new entry scan,
// model renewed) and a time stamp. A leaf's subtree is the leaf itself. RenewModel
// exchanges the model and marks both revision kinds as changed.
//
// Thread safety as for every node: callers that share a tree hold the data manager's
// access; the revisions are guarded by the node's revision lock.
class KaCTransformationNodeLeaf : public KaCTransformationNode {
    CB_DECLARE_RTTI()

public:
    ~KaCTransformationNodeLeaf() override;

    // A leaf builds no model.
    void CreateModel(bool, float, float) override {}
    CbSmartPointer<const KaCModelCCT> GetModel() const override { return m_model; }
    // The leaf's model revision: GetNodeRevision(eRevisionModel).
    int64_t GetModelRevision() const override { return GetNodeRevision(eRevisionModel); }
    bool IsLeaf() const override { return true; }
    bool IsKeyframe() const override { return m_keyframe; }
    bool EmptyLeafs() override { return false; }
    // The model's box (collection of type 2) in model coordinates; `trafo` is not applied.
    CyBoundingBox3D GetBoundingBox(const CbMatrix4Rd& trafo) const override;
    // Takes another leaf's base state (trafo, description, visibility); an inner source
    // changes nothing. Flags, time stamp and model are never taken over.
    void AssumeAttributes(CbSmartPointer<const KaCTransformationNode> source,
                          EAttributesToCopy what) override;
    int64_t GetNodeRevisionSubtree(unsigned int mask) const override {
        return GetNodeRevision(mask);
    }
    void GetNodeRevisionsSubtree(int64_t revisions[2]) const override {
        GetNodeRevisions(revisions);
    }
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
    uint64_t GetNrLeafNodes() const override { return 1; }
    KaNKeyFrameNodeIterator BeginKeyframe() override;
    KaNCachedLeafNodeIterator BeginCachedLeaf() override;
    KaNCachedLeafNodeIterator LastCachedLeaf() override;
    KaNCachedLeafNodeIterator EndCachedLeaf() override;
    CbSmartPointer<KaCTransformationNode> FrontCachedLeaf() override;
    CbSmartPointer<KaCTransformationNode> BackCachedLeaf() override;
    uint64_t GetNrCachedLeafNodes() override { return 1; }
    KaNSurfelIterator BeginSurfel() override;
    KaNRandomAccessSurfelIterator GetRas() override;
    KaNRandomSamplingSurfelIterator BeginRss(int every) override;

    virtual bool AreTransformationsOptimized() const { return true; }
    virtual CbDateTime GetTime() const { return m_time; }

    // --- Flags and model
    // Sets the keyframe flag (the setter bears the getter's name).
    void IsKeyframe(bool keyframe) { m_keyframe = keyframe; }
    bool IsNewEntryScan() const { return m_newEntryScan; }
    void SetIsNewEntryScan(bool newEntryScan) { m_newEntryScan = newEntryScan; }
    // While set, RenewModel ignores new models. No operation of the library sets it.
    bool IsModelRenewed() const { return m_modelRenewed; }
    void SetModelRenewed(bool modelRenewed) { m_modelRenewed = modelRenewed; }
    // Replaces the model (unless the model renewed flag is set) and draws new revisions of
    // both kinds, also when `model` already is the current model.
    void RenewModel(CbSmartPointer<const KaCModelCCT> model);
    bool IsCachedDepthImageValid() const { return true; }
    // AssumeAttributes(source, eAttributesAndModel): for a leaf that replaces `source` as a
    // new version of its scan.
    void AssumeAttributesIncrementVersion(CbSmartPointer<const KaCTransformationNode> source);

private:
    friend class KaCTransformationNodeManager;
    friend class KaCTransformationNodeSerializationIDMapper;

    KaCTransformationNodeLeaf();
    // A leaf to be read from a stream, carrying `id` (see KaCTransformationNode) and the
    // time stamp `time`, so that the leaves of one record need not each read the clock.
    KaCTransformationNodeLeaf(const CyUniqueID& id, const CbDateTime& time);
    // A visible leaf holding `model`.
    explicit KaCTransformationNodeLeaf(CbSmartPointer<const KaCModelCCT> model);
    // Base copy (new ID, no father, model or attributes), new entry scan, model renewed and
    // the time stamp; the copy is not a keyframe.
    KaCTransformationNodeLeaf(const KaCTransformationNodeLeaf& other);

    CB_DECLARE_FACTORIES(KaCTransformationNodeLeaf)

    void readStructureVersion1(CbStreamReadBinary& stream);
    void readStructureVersion2(CbStreamReadBinary& stream);
    void readStructureVersion3(CbStreamReadBinary& stream);

    bool m_newEntryScan = false;
    bool m_modelRenewed = false;
    bool m_keyframe = false;
    CbDateTime m_time;
};
