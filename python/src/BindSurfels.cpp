#include <pybind11/numpy.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/granary/KaCCompressedColor.h"
#include "python/src/Bindings.h"
#include "python/src/Conversions.h"
#include "python/src/ModelHandle.h"
#include "python/src/NodeHandle.h"
#include "python/src/RegistrationScope.h"
#include "python/src/TreeLock.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

namespace py = pybind11;

namespace {

static_assert(sizeof(CbVector3f) == 3 * sizeof(float) && std::is_standard_layout_v<CbVector3f>,
              "positions are viewed as three float32 values a row");
static_assert(sizeof(KaCCompressedColor) == 3, "colours are viewed as three bytes a row");

using Collection = CbSmartPointer<const KaCSurfelCollectionCCT>;

// The collection the bindings show: the standard one, which every model serves.
Collection collectionOf(const ModelHandle& self) {
    return self.model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
}

uint32_t sizeOf(const ModelHandle& self) {
    Collection collection = collectionOf(self);
    return collection ? collection->GetNrSurfels() : 0;
}

py::array positionsOf(const ModelHandle& self) {
    Collection collection = collectionOf(self);
    if (!collection) {
        return py::array_t<float>(std::vector<py::ssize_t>{0, 3});
    }
    KaTSurfelAccessor<CbVector3f> positions = collection->GetPositionAccessor();
    return Conversions::ReadOnlyView(py::dtype::of<float>(), positions.GetData(),
                                     positions.GetNrSurfels(), 3, positions.GetStride(),
                                     collection);
}

py::array normalsOf(const ModelHandle& self) {
    Collection collection = collectionOf(self);
    const uint32_t count = collection ? collection->GetNrSurfels() : 0;
    py::array_t<float> normals(std::vector<py::ssize_t>{static_cast<py::ssize_t>(count), 3});
    if (count > 0) {
        KaTSurfelAccessor<KaCQuantizedNormal> codes = collection->GetNormalAccessor();
        float* out = normals.mutable_data();
        for (uint32_t i = 0; i < count; ++i) {
            const CbVector3f normal = codes[i].Get();
            out[3 * static_cast<size_t>(i)] = normal.x;
            out[3 * static_cast<size_t>(i) + 1] = normal.y;
            out[3 * static_cast<size_t>(i) + 2] = normal.z;
        }
    }
    return normals;
}

py::object coloursOf(const ModelHandle& self) {
    Collection collection = collectionOf(self);
    if (!collection || !collection->HasColor()) {
        return py::none();
    }
    KaTSurfelAccessor<KaCCompressedColor> colours =
        collection->GetAccessor<KaCCompressedColor>(KaCSurfelContainer::eAttributeIdColor);
    return Conversions::ReadOnlyView(py::dtype::of<uint8_t>(), colours.GetData(),
                                     colours.GetNrSurfels(), 3, colours.GetStride(), collection);
}

py::object qualitiesOf(const ModelHandle& self) {
    Collection collection = collectionOf(self);
    if (!collection || !collection->HasQualityFlag()) {
        return py::none();
    }
    KaTSurfelAccessor<float> qualities = collection->GetQualityAccessor();
    return Conversions::ReadOnlyView(py::dtype::of<float>(), qualities.GetData(),
                                     qualities.GetNrSurfels(), 0, qualities.GetStride(),
                                     collection);
}

// A leaf for a scan built from arrays, below `father` when it is not null.
NodeHandle createScan(const CbSmartPointer<KaCTransformationNodeInner>& father,
                      const py::handle& positions, const py::handle& normals,
                      const py::handle& colours, const py::handle& qualities,
                      const py::handle& trafo, const py::handle& description,
                      uint64_t sequenceNumber, bool keyframe) {
    CbMatrix4Rd pose =
        trafo.is_none() ? c_matIdentityD : Conversions::MatrixFromArray(trafo, "trafo");
    CbSmartPointer<const KaCModelCCT> model = Conversions::ModelFromArrays(
        positions, normals, colours, qualities, Conversions::FromPython(description, "description"),
        sequenceNumber);
    TreeLock::Guard lock;
    RegistrationScope scope;
    CbSmartPointer<KaCTransformationNodeLeaf> leaf =
        KaCTransformationTreeUtility::GetInstance().CreateLeaf(father, model, &pose);
    leaf->IsKeyframe(keyframe);
    return NodeHandle(leaf);
}

const char* const c_scanArguments = R"(
positions: (N, 3) array of float32 or float64, the surfel positions in the scan's
    frame; every value finite (in single precision, in which surfels are stored).
normals: (N, 3) floating array, the surfel normals (any length but 0; stored
    normalised and quantised to within about one degree).
colours: optional (N, 3) array of integers 0 to 255 (red, green, blue).
qualities: optional (N,) floating array.
trafo: the scan's relative trafo, a 4x4 array (row vectors); the identity when None.
description: the scan's description and model name.
sequence_number: the scanner's acquisition sequence number.
keyframe: whether the scan is a keyframe.

Raises ValueError, naming the array and the row, for a wrong dtype or shape, a value
that is not finite, a zero normal, a colour outside 0 to 255 or no rows at all.)";

const char* const c_modelDoc =
    R"(The model of a node: a scan's surfels, or the subsampled model of an inner node,
in the node's own frame.

Arrays, all of the model's standard collection:
- positions: (N, 3) float32, a read-only view of the surfels' memory (no copy).
- colours: (N, 3) uint8 (red, green, blue), a read-only view, or None when the
  model keeps no colours.
- qualities: (N,) float32, a read-only view, or None when the model keeps none.
- normals: (N, 3) float32, a new array on every access: the model stores normals
  quantised in two bytes, so they are decoded (unit length, within about a degree).
A view keeps the model's surfels alive for as long as it (or any array made from it)
exists, and the surfels never change, so views stay valid after the node gets a new
model, is removed or the whole tree is dropped. Use numpy.array(view) for a writable
copy.)";

}  // namespace

void BindSurfels(py::module_& module) {
    py::class_<ModelHandle>(module, "Model", c_modelDoc)
        .def_property_readonly(
            "name",
            [](const ModelHandle& self) {
                return Conversions::ToPython(self.model->GetFilename());
            },
            "The model's name (str): the scan's file name or description.")
        .def_property_readonly(
            "id",
            [](const ModelHandle& self) {
                return Conversions::ToPython(self.model->GetId().ToString());
            },
            "The model's unique ID as text (str).")
        .def_property_readonly(
            "sequence_number",
            [](const ModelHandle& self) { return self.model->GetAcquireSequenceNumber(); },
            "The scanner's acquisition sequence number (int).")
        .def_property_readonly("size", &sizeOf, "The number of surfels (int).")
        .def("__len__", &sizeOf)
        .def_property_readonly("positions", &positionsOf,
                               "(N, 3) float32 positions: a read-only view, no copy.")
        .def_property_readonly("normals", &normalsOf,
                               "(N, 3) float32 unit normals: a new array (decoded), a copy.")
        .def_property_readonly("colours", &coloursOf,
                               "(N, 3) uint8 colours: a read-only view, or None.")
        .def_property_readonly("qualities", &qualitiesOf,
                               "(N,) float32 qualities: a read-only view, or None.")
        .def("__repr__", [](const ModelHandle& self) {
            return "<transformationtree.Model " +
                   std::string(py::repr(Conversions::ToPython(self.model->GetFilename()))) +
                   " with " + std::to_string(sizeOf(self)) + " surfels>";
        });

    module.def(
        "create_scan",
        [](const py::handle& positions, const py::handle& normals, const py::handle& colours,
           const py::handle& qualities, const py::handle& trafo, const py::handle& description,
           uint64_t sequenceNumber, bool keyframe) {
            return createScan(nullptr, positions, normals, colours, qualities, trafo, description,
                              sequenceNumber, keyframe);
        },
        py::arg("positions"), py::arg("normals"), py::arg("colours") = py::none(),
        py::arg("qualities") = py::none(), py::kw_only(), py::arg("trafo") = py::none(),
        py::arg("description") = "", py::arg("sequence_number") = 0, py::arg("keyframe") = false,
        (std::string("A new detached scan (a leaf with a model) from arrays; append it below "
                     "an inner node, or use Node.add_scan.\n") +
         c_scanArguments)
            .c_str());

    auto nodeClass = py::reinterpret_borrow<py::class_<NodeHandle>>(module.attr("Node"));
    nodeClass.def(
        "add_scan",
        [](const NodeHandle& self, const py::handle& positions, const py::handle& normals,
           const py::handle& colours, const py::handle& qualities, const py::handle& trafo,
           const py::handle& description, uint64_t sequenceNumber, bool keyframe) {
            CbSmartPointer<KaCTransformationNodeInner> father;
            {
                TreeLock::Guard lock;
                father = self.Inner();
            }
            if (!father) {
                throw py::type_error("add_scan: a leaf has no children");
            }
            return createScan(father, positions, normals, colours, qualities, trafo, description,
                              sequenceNumber, keyframe);
        },
        py::arg("positions"), py::arg("normals"), py::arg("colours") = py::none(),
        py::arg("qualities") = py::none(), py::kw_only(), py::arg("trafo") = py::none(),
        py::arg("description") = "", py::arg("sequence_number") = 0, py::arg("keyframe") = false,
        (std::string("Appends a new scan (a leaf with a model) built from arrays as the last "
                     "child of this inner node, placed by `trafo`; returns it.\n") +
         c_scanArguments)
            .c_str());

    module.def(
        "transformed_points",
        [](const NodeHandle& node, const NodeHandle* frame) {
            CbMatrix4Rd trafo;
            Collection collection;
            {
                TreeLock::Guard lock;
                CbSmartPointer<const KaCModelCCT> model = node.Node()->GetModel();
                if (!model) {
                    throw py::value_error("transformed_points: the node has no model");
                }
                if (!node.TrafoInto(frame != nullptr ? frame->Node().Get() : nullptr, trafo)) {
                    throw py::value_error(
                        "transformed_points: `frame` is neither the node nor one of its "
                        "ancestors");
                }
                collection = model->GetSurfelCollection(KaCModelCCT::eSurfelCollectionTypeStandard);
            }
            const uint32_t count = collection ? collection->GetNrSurfels() : 0;
            py::array_t<double> points(
                std::vector<py::ssize_t>{static_cast<py::ssize_t>(count), 3});
            double* out = points.mutable_data();
            {
                py::gil_scoped_release release;
                if (count > 0) {
                    KaTSurfelAccessor<CbVector3f> positions = collection->GetPositionAccessor();
                    for (uint32_t i = 0; i < count; ++i) {
                        const CbVector3f p = positions[i];
                        for (size_t c = 0; c < 3; ++c) {
                            out[3 * static_cast<size_t>(i) + c] = p.x * trafo(0, c) +
                                                                  p.y * trafo(1, c) +
                                                                  p.z * trafo(2, c) + trafo(3, c);
                        }
                    }
                }
            }
            return points;
        },
        py::arg("node"), py::arg("frame") = nullptr,
        "The positions of `node`'s model carried into the frame of `frame` (the node itself "
        "or an ancestor; the root when None): each row p becomes (p, 1) @ T with T = "
        "node.trafo_to(frame), in float64. A new (N, 3) float64 array (a copy). Raises "
        "ValueError for a node without model or a `frame` that is no ancestor.");
}
