#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/granary/KaCModelCCT.h"
#include "platform/harbor/CbSmartPointer.h"

// Builds a scan's model from plain arrays, as the Python bindings receive them: positions
// and normals as rows of three doubles, optional colours (three bytes a row) and qualities.
// Every value is checked before anything is built; a bad one throws std::invalid_argument
// (ValueError in Python) naming the array, the row and what is wrong. The model holds one
// collection (position, normal and, with colours or qualities, the attribute set that
// keeps them) and serves every collection type from it, like the models `ttree import`
// builds; normals are stored quantised (within about one degree).
//
// Stateless; safe from any thread.
class ScanBuilder {
public:
    struct Arrays {
        size_t count = 0;
        const double* positions = nullptr;  // count rows of x, y, z
        const double* normals = nullptr;    // count rows of x, y, z
        const uint8_t* colours = nullptr;   // count rows of r, g, b, or null
        const double* qualities = nullptr;  // count values, or null
    };

    // The largest number of surfels a scan may hold (the collections count in 32 bits).
    static constexpr size_t c_maxSurfels = 0xFFFFFFFEu;

    static CbSmartPointer<KaCModelCCT> Build(const Arrays& arrays, const std::wstring& name,
                                             uint64_t sequenceNumber);
    // Throws std::invalid_argument for the first bad value.
    static void Validate(const Arrays& arrays);
};
