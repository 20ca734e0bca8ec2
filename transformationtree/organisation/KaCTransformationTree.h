#pragma once

#include <cstdint>
#include <string>

#include "platform/harbor/CbCriticalSection.h"
#include "transformationtree/nodes/KaITransformationTree.h"

// The scans of one acquisition organised into clusters. Below a model node (supplied by
// the subclass) each child is a cluster described "Cluster %d", with exactly three inner
// children: an optimizer ("Optimizer"), a collector ("Collector") and a clipboard
// ("Clipboard") node. The first cluster is the reference cluster, the last the active one,
// into which new scans go. Clusters are numbered by a counter that never goes back.
//
// Abstract: the application's subclass supplies GetModelNode, ClusterLayoutChanged and
// reference counting. Only the root reference is guarded by the tree's lock; cluster
// creation and removal change the tree through the node manager, and callers hold write
// access to the mirrored nodes involved. Manager exceptions propagate (a partly built
// cluster stays in the tree); GetExtension with `throwIfUnknown` throws
// CbExceptionUnknownExtension.
class KaCTransformationTree : public KaITransformationTree {
public:
    using Inner = CbSmartPointer<KaCTransformationNodeInner>;
    using ConstInner = CbSmartPointer<const KaCTransformationNodeInner>;

    // When the root is set and mirrored, removes its whole subtree from the tree, the data
    // manager and the ID map (the caller holds write access to it); an unmirrored root is
    // only released.
    ~KaCTransformationTree() override;

    // The tree offers no extensions.
    const IExtensionInterface* GetExtension(const char* name, bool throwIfUnknown) const override;
    IExtensionInterface* GetExtension(const char* name, bool throwIfUnknown) override;

    ConstInner GetRoot() const override;
    Inner GetRoot() override;
    ConstInner GetActiveCluster() const override;
    Inner GetActiveCluster() override;
    // The number of children of the model node.
    uint64_t GetClusterCount() const override;
    Inner CreateNewCluster(Inner model, bool post) override;
    // Appends every child of `model` that is an inner node with exactly three children, the
    // first described "Optimizer..." (its first nine characters), in child order.
    void GetClusterNodes(Inner model, CbList<Inner>& clusters) const override;
    // Replaces the root; nothing else changes.
    void SetRoot(Inner root) override;
    ConstInner GetReferenceCluster() const override;
    Inner GetReferenceCluster() override;

    ConstInner GetModelNodeConst() const;
    // A new cluster below the model node; see newClusterForModel.
    Inner NewCluster(bool post);
    // Removes the cluster with everything in it from the tree and the ID map; posts nothing.
    void RemoveCluster(Inner cluster);

    // --- Look-ups that need no tree object; null for a null argument, a missing child or a
    // child that is not an inner node.
    static Inner GetActiveClusterForModel(Inner model);
    static Inner GetReferenceClusterForModel(Inner model);
    static ConstInner GetReferenceClusterForModelConst(ConstInner model);
    static Inner GetOptimizerNode(Inner cluster);
    static ConstInner GetOptimizerNodeConst(ConstInner cluster);
    static Inner GetCollectorNode(Inner cluster);
    static ConstInner GetCollectorNodeConst(ConstInner cluster);
    static Inner GetClipboardNode(Inner cluster);
    static ConstInner GetClipboardNodeConst(ConstInner cluster);

protected:
    KaCTransformationTree() = default;

    // Appends a new cluster "Cluster <counter>" with its optimizer, collector and clipboard
    // nodes to `model` (so it becomes the active cluster), and with `post` announces the
    // cluster (types 4 then 6, father the model) and its three nodes (type 1).
    Inner newClusterForModel(Inner model, bool post);
    void setRoot(Inner root);

    static const std::wstring& getOptimizerDescription();
    static const std::wstring& getCollectorDescription();
    static const std::wstring& getClipboardDescription();

private:
    Inner m_root;  // guarded by m_lock
    mutable CbCriticalSection m_lock;
    uint32_t m_clusterCounter = 0;
};
