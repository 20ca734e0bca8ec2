#include "python/src/Conversions.h"

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/harbor/CbStringConversion.h"
#include "python/src/ScanBuilder.h"

namespace py = pybind11;

namespace Conversions {

py::array_t<double> MatrixToArray(const CbMatrix4Rd& matrix) {
    py::array_t<double> array({4, 4});
    auto values = array.mutable_unchecked<2>();
    for (py::ssize_t r = 0; r < 4; ++r) {
        for (py::ssize_t c = 0; c < 4; ++c) {
            values(r, c) = matrix(static_cast<size_t>(r), static_cast<size_t>(c));
        }
    }
    return array;
}

CbMatrix4Rd MatrixFromArray(const py::handle& object, const char* what) {
    py::array array = py::array::ensure(object);
    if (!array) {
        PyErr_Clear();
        throw py::value_error(std::string(what) + ": expected a 4x4 array of numbers");
    }
    const char kind = array.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u') {
        throw py::value_error(std::string(what) + ": expected real numbers, not dtype " +
                              std::string(py::str(array.dtype())));
    }
    if (array.ndim() != 2 || array.shape(0) != 4 || array.shape(1) != 4) {
        std::string shape = py::str(py::tuple(array.attr("shape")));
        throw py::value_error(std::string(what) + ": expected shape (4, 4), not " + shape);
    }
    auto values = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
    CbMatrix4Rd matrix;
    for (size_t i = 0; i < 16; ++i) {
        const double value = values.data()[i];
        if (!std::isfinite(value)) {
            throw py::value_error(std::string(what) + ": element (" + std::to_string(i / 4) + ", " +
                                  std::to_string(i % 4) + ") is not finite");
        }
        matrix[i] = value;
    }
    return matrix;
}

py::str ToPython(const std::wstring& text) {
    const std::string utf8 = CbToUtf8(text);
    PyObject* decoded =
        PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "surrogatepass");
    if (decoded == nullptr) {
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(decoded);
}

std::wstring FromPython(const py::handle& text, const char* what) {
    if (!py::isinstance<py::str>(text)) {
        throw py::type_error(std::string(what) + ": expected str, not " +
                             std::string(py::str(py::type::of(text).attr("__name__"))));
    }
    PyObject* encoded = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass");
    if (encoded == nullptr) {
        throw py::error_already_set();
    }
    py::bytes bytes = py::reinterpret_steal<py::bytes>(encoded);
    return CbFromUtf8(std::string(bytes));
}

py::array ReadOnlyView(const py::dtype& dtype, const void* data, size_t rows, size_t columns,
                       size_t stride, CbSmartPointer<const KaCSurfelCollectionCCT> owner) {
    std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(rows)};
    std::vector<py::ssize_t> strides{static_cast<py::ssize_t>(stride)};
    if (columns > 0) {
        shape.push_back(static_cast<py::ssize_t>(columns));
        strides.push_back(dtype.itemsize());
    }
    py::array array;
    if (rows == 0 || data == nullptr) {
        shape[0] = 0;
        array = py::array(dtype, shape);
    } else {
        // The capsule owns one reference to the collection and drops it when NumPy frees
        // the array's base object, which happens with the GIL held.
        auto reference =
            std::make_unique<CbSmartPointer<const KaCSurfelCollectionCCT>>(std::move(owner));
        py::capsule base(reference.get(), [](void* pointer) {
            delete static_cast<CbSmartPointer<const KaCSurfelCollectionCCT>*>(pointer);
        });
        reference.release();  // the capsule owns it now
        array = py::array(dtype, shape, strides, data, base);
    }
    py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return array;
}

namespace {

std::string shapeOf(const py::array& array) {
    return py::str(py::tuple(array.attr("shape")));
}

// `object` as an array of `kinds` (dtype kind characters) and shape (rows, columns), or
// (rows,) for 0 columns; `rows` -1 accepts any row count. Throws value_error otherwise.
py::array checkedArray(const py::handle& object, const char* what, const char* kinds,
                       const char* kindText, py::ssize_t rows, py::ssize_t columns) {
    py::array array = py::array::ensure(object);
    if (!array) {
        PyErr_Clear();
        throw py::value_error(std::string(what) + ": expected an array of " + kindText);
    }
    if (std::string(kinds).find(array.dtype().kind()) == std::string::npos) {
        throw py::value_error(std::string(what) + ": expected " + kindText + ", not dtype " +
                              std::string(py::str(array.dtype())));
    }
    const bool matrix = columns > 0;
    const std::string wanted = matrix ? "(N, " + std::to_string(columns) + ")" : "(N,)";
    if (array.ndim() != (matrix ? 2 : 1) || (matrix && array.shape(1) != columns)) {
        throw py::value_error(std::string(what) + ": expected shape " + wanted + ", not " +
                              shapeOf(array));
    }
    if (rows >= 0 && array.shape(0) != rows) {
        throw py::value_error(std::string(what) + ": expected " + std::to_string(rows) +
                              " rows like positions, not " + std::to_string(array.shape(0)));
    }
    return array;
}

using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;

}  // namespace

CbSmartPointer<KaCModelCCT> ModelFromArrays(const py::handle& positions, const py::handle& normals,
                                            const py::handle& colours, const py::handle& qualities,
                                            const std::wstring& name, uint64_t sequenceNumber) {
    const char* floating = "floating-point numbers (float32 or float64)";
    py::array p = checkedArray(positions, "positions", "f", floating, -1, 3);
    const py::ssize_t rows = p.shape(0);
    Doubles positionValues = Doubles::ensure(p);
    Doubles normalValues =
        Doubles::ensure(checkedArray(normals, "normals", "f", floating, rows, 3));
    py::array_t<uint8_t, py::array::c_style | py::array::forcecast> colourValues;
    if (!colours.is_none()) {
        py::array c = checkedArray(colours, "colours", "iu", "integers 0 to 255", rows, 3);
        auto wide = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(c);
        for (py::ssize_t i = 0; i < wide.size(); ++i) {
            const int64_t value = wide.data()[i];
            if (value < 0 || value > 255) {
                throw py::value_error("colours: row " + std::to_string(i / 3) + " holds " +
                                      std::to_string(value) + ", outside 0 to 255");
            }
        }
        colourValues = decltype(colourValues)::ensure(c);
    }
    Doubles qualityValues;
    if (!qualities.is_none()) {
        qualityValues =
            Doubles::ensure(checkedArray(qualities, "qualities", "f", floating, rows, 0));
    }
    ScanBuilder::Arrays arrays;
    arrays.count = static_cast<size_t>(rows);
    arrays.positions = positionValues.data();
    arrays.normals = normalValues.data();
    arrays.colours = colours.is_none() ? nullptr : colourValues.data();
    arrays.qualities = qualities.is_none() ? nullptr : qualityValues.data();
    try {
        return ScanBuilder::Build(arrays, name, sequenceNumber);
    } catch (const std::invalid_argument& problem) {
        throw py::value_error(problem.what());
    }
}

}  // namespace Conversions
