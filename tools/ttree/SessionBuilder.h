#pragma once

#include <cstdint>

#include "platform/harbor/CbSmartPointer.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"

// Builds a session tree the way a scanning application does: the node manager is bound to
// the application's data manager, the root is created there and held for writing while
// the session is built; scans become leaves (KaCTransformationTreeUtility::CreateLeaf) in
// the collector of the active cluster; a new cluster starts when tracking is lost; each
// finished collector is rebuilt with a bounded fan-out, and every inner node gets a
// subsampled model, bottom-up (on several threads, KaCBottomUpModelBuilder). Called from one
// thread, the one holding the root's access; throws what the library throws. The
// destructor takes the tree out of the data manager again.
class SessionBuilder {
public:
    struct Options {
        uint32_t maxChildren = 4;  // fan-out of the rebuilt collectors (at least 2)
        float cellSize = 0.3f;     // grid cell of the inner nodes' models, in mm; 0 merges
        uint32_t threads = 0;      // for BuildModels (KaCBottomUpModelBuilder); 0: all cores
    };

    explicit SessionBuilder(const Options& options);
    ~SessionBuilder();
    SessionBuilder(const SessionBuilder&) = delete;
    SessionBuilder& operator=(const SessionBuilder&) = delete;

    // Adds a scan with its pose (scanner frame into session frame) to the active cluster,
    // first starting a new cluster when `trackingLost` (or there is none yet); returns the
    // scan's leaf.
    CbSmartPointer<KaCTransformationNodeLeaf> AddScan(CbSmartPointer<const KaCModelCCT> model,
                                                      const CbMatrix4Rd& pose, bool trackingLost);
    // Rebuilds the last cluster's collector with the bounded fan-out.
    void FinishCluster();
    // CreateModel on every inner node, each after the inner nodes below it.
    void BuildModels();

    CbSmartPointer<KaCTransformationNodeInner> GetRoot() const { return m_root; }
    uint64_t GetClusterCount() const { return m_tree->GetClusterCount(); }
    // Levels below the root of the deepest node.
    size_t GetDepth() const;

private:
    Options m_options;
    KaCTransformationNodeManager& m_manager;
    CbSmartPointer<KaCTransformationNodeInner> m_root;
    KaCTransformationNodeManager::WriteHandle m_access;
    CbSmartPointer<KaCSessionTransformationTree> m_tree;
    bool m_clusterOpen = false;
};
