#include <pybind11/stl.h>

#include <vector>

#include "python/src/Bindings.h"
#include "python/src/NodeHandle.h"
#include "python/src/RegistrationScope.h"
#include "python/src/SessionTreeHandle.h"
#include "python/src/TreeLock.h"

namespace py = pybind11;

namespace {

using Inner = CbSmartPointer<KaCTransformationNodeInner>;

py::object handleOrNone(const Inner& node) {
    return node ? py::cast(NodeHandle(node)) : py::none();
}

Inner requireInner(const NodeHandle& handle, const char* what) {
    Inner inner = handle.Inner();
    if (!inner) {
        throw py::type_error(std::string(what) +
                             ": expected an inner node (a cluster), not a leaf");
    }
    return inner;
}

const char* const c_sessionTreeDoc =
    R"(The scans of a session organised in clusters, over a root (the library's session
tree). Each child of the root that is a cluster holds exactly three inner nodes: an
optimizer ("Optimizer"), a collector ("Collector", which receives the cluster's scans)
and a clipboard ("Clipboard"). The first cluster is the reference cluster, the last
the active one. The tree keeps its root (and so every node) alive.)";

}  // namespace

void BindSessionTree(py::module_& module) {
    py::class_<SessionTreeHandle>(module, "SessionTree", c_sessionTreeDoc)
        .def(py::init([](const NodeHandle& root) {
                 TreeLock::Guard lock;
                 return SessionTreeHandle{
                     CbMakeShared<KaCSessionTransformationTree>(requireInner(root, "SessionTree"))};
             }),
             py::arg("root"), "The session tree over the inner node `root`.")
        .def_property_readonly(
            "root",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                return NodeHandle(self.tree->GetRoot());
            },
            "The root (Node).")
        .def_property_readonly(
            "clusters",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                CbList<Inner> clusters;
                self.tree->GetClusterNodes(self.tree->GetModelNode(), clusters);
                std::vector<NodeHandle> result;
                for (const Inner& cluster : clusters) {
                    result.emplace_back(cluster);
                }
                return result;
            },
            "The clusters in order (a new list): the root's children that are inner nodes "
            "with optimizer, collector and clipboard.")
        .def_property_readonly(
            "cluster_count",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                return self.tree->GetClusterCount();
            },
            "The number of the root's children (int).")
        .def_property_readonly(
            "active_cluster",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                return handleOrNone(self.tree->GetActiveCluster());
            },
            "The last cluster (which receives new scans), or None.")
        .def_property_readonly(
            "reference_cluster",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                return handleOrNone(self.tree->GetReferenceCluster());
            },
            "The first cluster, or None.")
        .def(
            "new_cluster",
            [](const SessionTreeHandle& self) {
                TreeLock::Guard lock;
                RegistrationScope scope;
                return NodeHandle(self.tree->NewCluster(false));
            },
            "Appends a new cluster (\"Cluster <n>\" with its optimizer, collector and "
            "clipboard) to the root, making it the active cluster; returns it.")
        .def(
            "remove_cluster",
            [](const SessionTreeHandle& self, const NodeHandle& cluster) {
                TreeLock::Guard lock;
                Inner inner = requireInner(cluster, "remove_cluster");
                if (inner->GetFather() != self.tree->GetModelNode()) {
                    throw py::value_error("remove_cluster: the node is not a cluster of this tree");
                }
                self.tree->RemoveCluster(inner);
            },
            py::arg("cluster"),
            "Removes the cluster with everything in it from the tree (its nodes' attributes "
            "are reset).")
        .def_static(
            "optimizer",
            [](const NodeHandle& cluster) {
                TreeLock::Guard lock;
                return handleOrNone(
                    KaCTransformationTree::GetOptimizerNode(requireInner(cluster, "optimizer")));
            },
            py::arg("cluster"), "The cluster's optimizer node, or None.")
        .def_static(
            "collector",
            [](const NodeHandle& cluster) {
                TreeLock::Guard lock;
                return handleOrNone(
                    KaCTransformationTree::GetCollectorNode(requireInner(cluster, "collector")));
            },
            py::arg("cluster"), "The cluster's collector node (its scans go below it), or None.")
        .def_static(
            "clipboard",
            [](const NodeHandle& cluster) {
                TreeLock::Guard lock;
                return handleOrNone(
                    KaCTransformationTree::GetClipboardNode(requireInner(cluster, "clipboard")));
            },
            py::arg("cluster"), "The cluster's clipboard node, or None.");
}
