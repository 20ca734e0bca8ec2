#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbSmartPointer.h"

// Conversions between the library's values and Python's, shared by the binding files:
// matrices and NumPy arrays, wide strings and str, surfel attributes and read-only views.
namespace Conversions {

// A new 4x4 float64 array holding `matrix` (row r, column c is element (r, c)).
pybind11::array_t<double> MatrixToArray(const CbMatrix4Rd& matrix);
// A 4x4 array of real numbers (any integer or floating dtype), every value finite; throws
// pybind11::value_error naming `what` otherwise.
CbMatrix4Rd MatrixFromArray(const pybind11::handle& object, const char* what);

// Text in both directions. Code points the library stores unpaired (lone surrogates) pass
// through unchanged ("surrogatepass"), so every description survives a round trip.
pybind11::str ToPython(const std::wstring& text);
std::wstring FromPython(const pybind11::handle& text, const char* what);

// A read-only NumPy view of `rows` rows of surfel attribute memory: `columns` values of
// `dtype` per row (0 columns for a one-dimensional array), `stride` bytes from row to row.
// The array keeps `owner` alive through its base object, so the memory stays valid for as
// long as the array (or any array derived from it) exists. An empty collection gives an
// empty array that refers to no memory.
pybind11::array ReadOnlyView(const pybind11::dtype& dtype, const void* data, size_t rows,
                             size_t columns, size_t stride,
                             CbSmartPointer<const KaCSurfelCollectionCCT> owner);

// A scan's model from NumPy arrays: positions and normals of shape (N, 3) with a floating
// dtype, colours (N, 3) of integers 0 to 255 and qualities (N,) floating, both optional
// (None). Throws pybind11::value_error for a wrong dtype, shape or value (ScanBuilder checks
// the values), naming the array.
CbSmartPointer<KaCModelCCT> ModelFromArrays(const pybind11::handle& positions,
                                            const pybind11::handle& normals,
                                            const pybind11::handle& colours,
                                            const pybind11::handle& qualities,
                                            const std::wstring& name, uint64_t sequenceNumber);

}  // namespace Conversions
