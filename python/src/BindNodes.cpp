#include <pybind11/numpy.h>
#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/lattice/CyUniqueID.h"
#include "python/src/Bindings.h"
#include "python/src/Conversions.h"
#include "python/src/ModelHandle.h"
#include "python/src/NodeHandle.h"
#include "python/src/RegistrationScope.h"
#include "python/src/TreeLock.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

namespace py = pybind11;

namespace {

using Node = CbSmartPointer<KaCTransformationNode>;
using Inner = CbSmartPointer<KaCTransformationNodeInner>;

KaCTransformationNodeManager& manager() {
    return KaCTransformationNodeManager::GetInstance();
}

Inner requireInner(const NodeHandle& handle, const char* operation) {
    Inner inner = handle.Inner();
    if (!inner) {
        throw py::type_error(std::string(operation) + ": a leaf has no children");
    }
    return inner;
}

// A new detached inner node, owned by the Python object that receives it.
NodeHandle createInner(const std::wstring& description) {
    TreeLock::Guard lock;
    RegistrationScope scope;
    Inner inner = manager().CreateInnerNode();
    inner->SetDescription(description);
    return NodeHandle(inner);
}

// Every node (or leaf) of the walk with its transformation into the walk's start: the
// library's iterator runs to the end first, and only then are Python objects made, so that
// nothing Python runs in between (a finaliser) can change the tree under the iterator.
template <class Iterator>
py::list walk(Iterator it) {
    std::vector<std::pair<Node, CbMatrix4Rd>> visited;
    for (; it; ++it) {
        visited.emplace_back(it.GetCurrentNode(), it.GetCurrentTrafo());
    }
    py::list result;
    for (const auto& [node, trafo] : visited) {
        result.append(py::make_tuple(NodeHandle(node), Conversions::MatrixToArray(trafo)));
    }
    return result;
}

void createModels(const Inner& inner, float cellSize, bool subtree) {
    std::vector<KaCTransformationNodeInner*> inners;
    if (subtree) {
        // In reverse walk order every node comes after its descendants, so each model is
        // built from models that are already new.
        for (auto it = inner->BeginInner(); it; ++it) {
            inners.push_back(static_cast<KaCTransformationNodeInner*>(it.GetCurrentNode()));
        }
        std::reverse(inners.begin(), inners.end());
    } else {
        inners.push_back(inner.Get());
    }
    for (KaCTransformationNodeInner* node : inners) {
        node->CreateModel(false, cellSize, 0.0f);
    }
}

std::string repr(const NodeHandle& handle) {
    const Node& node = handle.Node();
    std::string kind = node->IsLeaf() ? "leaf" : "inner";
    std::string description = py::repr(Conversions::ToPython(node->GetDescription()));
    return "<transformationtree.Node " + kind + " " + description + " " +
           std::string(Conversions::ToPython(node->GetID().ToString())) + ">";
}

const char* const c_nodeDoc =
    R"(A node of a transformation tree: an inner node (a group of scans: root, cluster,
collector ...) or a leaf (one scan, whose model holds its surfels).

Transformations are 4x4 float64 arrays acting on row vectors: a point p (a row
(x, y, z, 1)) maps to p @ M, so the rotation is M[:3, :3], the translation is the
last row M[3, :3], and a rigid transformation's last column is (0, 0, 0, 1). A @ B
applies A first, then B.
A node's relative_trafo maps its own frame into its father's; its transformation into
an ancestor's frame is relative_trafo @ father.relative_trafo @ ... up to, not
including, the ancestor's own relative_trafo. The walks (nodes(), leaves()) give each
node with this product into the frame of the node they start from.

Ownership: a Node object keeps its node, everything below it and the root of its
tree alive; no Node object ever refers to a destroyed node. A node removed from its
father, or created and not yet appended, is detached: it is owned by the Node objects
that refer to it. Node objects compare equal (and hash alike) when they refer to the
same node. Nodes are made by read_session, create_root, create_inner, create_scan and
add_scan, not by calling Node().

Matrices and lists returned are copies: change a node through its properties and
methods, not by writing into a returned array.)";

}  // namespace

void BindNodes(py::module_& module) {
    py::class_<NodeHandle> nodeClass(module, "Node", c_nodeDoc);

    module.def(
        "_registered_node_count", [] { return manager().GetNrRegisteredNodes(); },
        "The number of nodes in the library's node registry (the bindings keep it free of "
        "the nodes they create; for tests).");
    module.def(
        "create_root",
        [](const py::handle& description) {
            return createInner(Conversions::FromPython(description, "description"));
        },
        py::arg("description") = "Root",
        "A new detached inner node to build a tree below (a root): the identity as relative "
        "trafo, no model. The returned Node owns it.");
    module.def(
        "create_inner",
        [](const py::handle& description) {
            return createInner(Conversions::FromPython(description, "description"));
        },
        py::arg("description") = "Inner",
        "A new detached inner node (a group of nodes), to be appended below another one.");

    nodeClass
        .def_property_readonly(
            "id",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return Conversions::ToPython(self.Node()->GetID().ToString());
            },
            "The node's unique ID as text, as `ttree tree` shows it (str).")
        .def_property(
            "description",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return Conversions::ToPython(self.Node()->GetDescription());
            },
            [](const NodeHandle& self, const py::handle& text) {
                std::wstring description = Conversions::FromPython(text, "description");
                TreeLock::Guard lock;
                self.Node()->SetDescription(description);
            },
            "The node's text (str); a scan's is the name of its model.")
        .def_property_readonly(
            "is_leaf",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return self.Node()->IsLeaf();
            },
            "True for a scan (a leaf), False for an inner node.")
        .def_property(
            "relative_trafo",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return Conversions::MatrixToArray(self.Node()->GetRelativeTrafo());
            },
            [](const NodeHandle& self, const py::handle& value) {
                CbMatrix4Rd trafo = Conversions::MatrixFromArray(value, "relative_trafo");
                TreeLock::Guard lock;
                self.Node()->SetRelativeTrafo(trafo);
            },
            "The transformation from this node's frame into its father's: a new 4x4 float64 "
            "array (row vectors, translation in the last row). Assigning a 4x4 array of finite "
            "numbers replaces it and marks the node's transformation as changed.")
        .def_property_readonly(
            "trafo_to_root",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                CbMatrix4Rd trafo;
                self.TrafoInto(nullptr, trafo);
                return Conversions::MatrixToArray(trafo);
            },
            "The transformation from this node's frame into its root's frame: the product of "
            "the relative trafos from this node up to, not including, the root's (the identity "
            "for the root). The same matrix the walks from the root give for this node.")
        .def(
            "trafo_to",
            [](const NodeHandle& self, const NodeHandle& ancestor) {
                TreeLock::Guard lock;
                CbMatrix4Rd trafo;
                if (!self.TrafoInto(ancestor.Node().Get(), trafo)) {
                    throw py::value_error(
                        "trafo_to: the node given is not an ancestor of this one");
                }
                return Conversions::MatrixToArray(trafo);
            },
            py::arg("ancestor"),
            "The transformation from this node's frame into the frame of `ancestor` (this node "
            "or one of its ancestors; ValueError otherwise), without the ancestor's own "
            "relative trafo.")
        .def_property_readonly(
            "father",
            [](const NodeHandle& self) -> py::object {
                TreeLock::Guard lock;
                Inner father = self.Node()->GetFather();
                return father ? py::cast(NodeHandle(father)) : py::none();
            },
            "The inner node this node hangs below, or None for a root or a detached node.")
        .def_property_readonly(
            "children",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                std::vector<NodeHandle> children;
                if (Inner inner = self.Inner()) {
                    for (const Node& child : inner->GetChildren()) {
                        children.emplace_back(child);
                    }
                }
                return children;
            },
            "The children in order, as a new list (empty for a leaf).")
        .def_property_readonly(
            "leaf_count",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return self.Node()->GetNrLeafNodes();
            },
            "The number of scans in the subtree (1 for a leaf).")
        .def_property_readonly(
            "sequence_number",
            [](const NodeHandle& self) -> py::object {
                TreeLock::Guard lock;
                CbSmartPointer<const KaCModelCCT> model = self.Node()->GetModel();
                return model ? py::cast(model->GetAcquireSequenceNumber()) : py::none();
            },
            "The scanner's acquisition sequence number of the node's model (int), or None "
            "for a node without a model. Scans are ordered by it.")
        .def_property(
            "keyframe",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return self.Node()->IsKeyframe();
            },
            [](const NodeHandle& self, bool keyframe) {
                TreeLock::Guard lock;
                CbSmartPointer<KaCTransformationNodeLeaf> leaf = self.Leaf();
                if (!leaf) {
                    throw py::type_error("keyframe: only a scan (a leaf) can be a keyframe");
                }
                leaf->IsKeyframe(keyframe);
            },
            "Whether the scan is a keyframe (bool; always False for an inner node, which "
            "cannot be set).")
        .def_property_readonly(
            "model",
            [](const NodeHandle& self) -> py::object {
                TreeLock::Guard lock;
                CbSmartPointer<const KaCModelCCT> model = self.Node()->GetModel();
                return model ? py::cast(ModelHandle{model}) : py::none();
            },
            "The node's model (a Model: the scan's surfels, or an inner node's subsampled "
            "model), or None. The Model keeps its surfels alive, also after the node gets "
            "another model.")
        .def(
            "nodes",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return walk(self.Node()->BeginNode());
            },
            "Every node of the subtree, depth first (a node before its children, children in "
            "order), as a list of (node, trafo) pairs: trafo (4x4 float64) maps the node's "
            "frame into this node's frame; the identity for this node itself. The walk is the "
            "library's node iterator; the list is a snapshot, so the tree may change while it "
            "is looped over.")
        .def(
            "leaves",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                return walk(self.Node()->BeginLeaf());
            },
            "Every scan of the subtree in walk order, as a list of (leaf, trafo) pairs with "
            "trafo as in nodes() (the library's leaf iterator; a snapshot). For a leaf, the "
            "leaf itself with the identity.")
        .def(
            "find",
            [](const NodeHandle& self, const std::string& id) -> py::object {
                std::string bare = id;
                if (bare.size() > 2 && bare.front() == '{' && bare.back() == '}') {
                    bare = bare.substr(1, bare.size() - 2);
                }
                CyUniqueID wanted = CyUniqueID::GetInvalidID();
                if (!CyUniqueID::TryParse(std::wstring(bare.begin(), bare.end()), wanted)) {
                    throw py::value_error("find: '" + id + "' is not a node ID");
                }
                TreeLock::Guard lock;
                for (auto it = self.Node()->BeginNode(); it; ++it) {
                    if (it.GetCurrentNode()->GetID() == wanted) {
                        return py::cast(NodeHandle(it.GetCurrentNode()));
                    }
                }
                return py::none();
            },
            py::arg("id"),
            "The node of this subtree with the ID `id` (with or without braces), or None.")
        .def(
            "append",
            [](const NodeHandle& self, const NodeHandle& child) {
                TreeLock::Guard lock;
                Inner inner = requireInner(self, "append");
                if (child.Node()->GetFather()) {
                    throw py::value_error(
                        "append: the node hangs below another node already; use move_to to "
                        "move it");
                }
                manager().AppendChild(inner, child.Node(), true);
            },
            py::arg("child"),
            "Appends the detached node `child` (with its subtree) as the last child. Raises "
            "ValueError for a node that has a father and PreconditionError when `child` is "
            "this node or one of its ancestors.")
        .def(
            "move_to",
            [](const NodeHandle& self, const NodeHandle& father, const NodeHandle* before) {
                TreeLock::Guard lock;
                Inner target = requireInner(father, "move_to");
                Node sibling;
                if (before != nullptr) {
                    sibling = before->Node();
                    if (sibling->GetFather() != target) {
                        throw py::value_error("move_to: `before` is not a child of `father`");
                    }
                }
                manager().MoveNode(target, self.Node(), sibling);
            },
            py::arg("father"), py::arg("before") = nullptr,
            "Moves this node with its subtree below the inner node `father`: before the child "
            "`before`, or last. Its relative trafo stays, so it keeps its place relative to "
            "its new father (not in space). A node that already hangs below `father` stays "
            "where it is. Raises PreconditionError when `father` is this node or lies below "
            "it (the tree would get a cycle); nothing changes then.")
        .def(
            "remove",
            [](const NodeHandle& self) {
                TreeLock::Guard lock;
                Node node = self.Node();
                if (Inner father = node->GetFather()) {
                    manager().RemoveChild(father, node);
                }
            },
            "Detaches this node with its subtree from its father (nothing for a node without "
            "father). The subtree lives on as long as Node objects refer to it.")
        .def(
            "normalize_tree_structure",
            [](const NodeHandle& self, int maxChildren) {
                if (maxChildren < 2) {
                    throw py::value_error(
                        "normalize_tree_structure: max_children must be at "
                        "least 2, not " +
                        std::to_string(maxChildren));
                }
                TreeLock::Guard lock;
                Inner inner = requireInner(self, "normalize_tree_structure");
                RegistrationScope scope;
                KaCTransformationTreeUtility::GetInstance().NormalizeTreeStructure(
                    inner, maxChildren, false);
            },
            py::arg("max_children") = 4,
            "Rebuilds the subtree as a balanced tree in which no inner node has more than "
            "`max_children` children; the scans keep their order and their places relative to "
            "this node. The scans below are copies afterwards: Node objects of the old scans "
            "refer to detached old nodes.")
        .def(
            "create_model",
            [](const NodeHandle& self, double cellSize, bool subtree) {
                if (!std::isfinite(cellSize) || cellSize < 0.0 || cellSize > 1e30) {
                    throw py::value_error(
                        "create_model: cell_size must be finite, not negative "
                        "and at most 1e30, not " +
                        std::to_string(cellSize));
                }
                Inner inner;
                {
                    TreeLock::Guard lock;
                    inner = requireInner(self, "create_model");
                }
                py::gil_scoped_release release;
                std::lock_guard<std::recursive_mutex> lock(TreeLock::Mutex());
                createModels(inner, static_cast<float>(cellSize), subtree);
            },
            py::arg("cell_size") = 0.3, py::arg("subtree") = false,
            "Builds the inner node's model from the scans below it, in its own frame: every "
            "surfel for cell_size 0, else one per occupied grid cell of that size (in the "
            "units of the positions, mm for scanner data). Inner nodes below that have a "
            "model stand for their subtrees; with subtree=True every inner node of the subtree "
            "gets a new model first, deepest first. Releases the GIL while it builds.")
        .def(py::self == py::self)  // NOLINT(misc-redundant-expression)
        .def("__hash__", &NodeHandle::Hash)
        .def("__repr__", [](const NodeHandle& self) {
            TreeLock::Guard lock;
            return repr(self);
        });
}
