#pragma once

#include <cstdint>

#include "platform/harbor/CbList.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/IExtendable.h"
#include "transformationtree/nodes/KaCTransformationNodeInner.h"

// The interface of a tree of scans organised in clusters: below a model node, each child
// is a cluster (the first the reference cluster, the last the active one), and every
// cluster holds an optimizer, a collector and a clipboard node. See KaCTransformationTree.
class KaITransformationTree : public IExtendable {
public:
    ~KaITransformationTree() override = default;

    virtual CbSmartPointer<const KaCTransformationNodeInner> GetRoot() const = 0;
    virtual CbSmartPointer<KaCTransformationNodeInner> GetRoot() = 0;
    virtual CbSmartPointer<const KaCTransformationNodeInner> GetActiveCluster() const = 0;
    virtual CbSmartPointer<KaCTransformationNodeInner> GetActiveCluster() = 0;
    virtual uint64_t GetClusterCount() const = 0;
    // The node whose children are the clusters; supplied by the application.
    virtual CbSmartPointer<KaCTransformationNodeInner> GetModelNode() = 0;
    virtual CbSmartPointer<KaCTransformationNodeInner> CreateNewCluster(
        CbSmartPointer<KaCTransformationNodeInner> model, bool post) = 0;
    // Called by the application when its clusters were rearranged outside this interface;
    // what it does is the application's (the library never calls it).
    virtual void ClusterLayoutChanged() = 0;
    virtual void GetClusterNodes(
        CbSmartPointer<KaCTransformationNodeInner> model,
        CbList<CbSmartPointer<KaCTransformationNodeInner>>& clusters) const = 0;
    virtual void SetRoot(CbSmartPointer<KaCTransformationNodeInner> root) = 0;
    virtual CbSmartPointer<const KaCTransformationNodeInner> GetReferenceCluster() const = 0;
    virtual CbSmartPointer<KaCTransformationNodeInner> GetReferenceCluster() = 0;
};
