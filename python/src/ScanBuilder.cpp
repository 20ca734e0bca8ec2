#include "python/src/ScanBuilder.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/granary/KaCSurfelCollectionCCT.h"

namespace {

constexpr double c_floatMax = std::numeric_limits<float>::max();

[[noreturn]] void refuse(const char* array, size_t row, const std::string& what) {
    throw std::invalid_argument(std::string(array) + ": row " + std::to_string(row) + " " + what);
}

std::string triple(const double* values) {
    return "(" + std::to_string(values[0]) + ", " + std::to_string(values[1]) + ", " +
           std::to_string(values[2]) + ")";
}

// Finite and within single precision, where the surfels keep their values.
bool storable(double value) {
    return std::isfinite(value) && std::fabs(value) <= c_floatMax;
}

}  // namespace

void ScanBuilder::Validate(const Arrays& arrays) {
    if (arrays.count == 0) {
        throw std::invalid_argument("a scan needs at least one surfel (the arrays have no rows)");
    }
    if (arrays.count > c_maxSurfels) {
        throw std::invalid_argument("a scan holds at most " + std::to_string(c_maxSurfels) +
                                    " surfels, not " + std::to_string(arrays.count));
    }
    for (size_t i = 0; i < arrays.count; ++i) {
        const double* position = arrays.positions + 3 * i;
        if (!storable(position[0]) || !storable(position[1]) || !storable(position[2])) {
            refuse("positions", i, "is not finite in single precision: " + triple(position));
        }
        const double* normal = arrays.normals + 3 * i;
        if (!storable(normal[0]) || !storable(normal[1]) || !storable(normal[2])) {
            refuse("normals", i, "is not finite in single precision: " + triple(normal));
        }
        if (static_cast<float>(normal[0]) == 0.0f && static_cast<float>(normal[1]) == 0.0f &&
            static_cast<float>(normal[2]) == 0.0f) {
            refuse("normals", i, "is the zero vector, which has no direction");
        }
        if (arrays.qualities != nullptr && !storable(arrays.qualities[i])) {
            refuse("qualities", i,
                   "is not finite in single precision: " + std::to_string(arrays.qualities[i]));
        }
    }
}

CbSmartPointer<KaCModelCCT> ScanBuilder::Build(const Arrays& arrays, const std::wstring& name,
                                               uint64_t sequenceNumber) {
    Validate(arrays);
    const uint32_t count = static_cast<uint32_t>(arrays.count);
    KaCSurfelContainer::ESurfelAttributeSet set = KaCSurfelContainer::eSurfelAttributeSetBasic;
    if (arrays.qualities != nullptr) {
        set = KaCSurfelContainer::eSurfelAttributeSetFull;  // colours come with it (black)
    } else if (arrays.colours != nullptr) {
        set = KaCSurfelContainer::eSurfelAttributeSetColor;
    }
    CbSmartPointer<KaCSurfelCollectionCCT> collection =
        KaCSurfelCollectionCCT::CreateForOverwrite(count, set, nullptr);
    KaCSurfelContainer::KaNWritableSurfels surfels = collection->GetWritableSurfels(0, count);
    for (uint32_t i = 0; i < count; ++i) {
        const double* p = arrays.positions + 3 * static_cast<size_t>(i);
        const double* n = arrays.normals + 3 * static_cast<size_t>(i);
        surfels.positions[i] = CbVector3f(static_cast<float>(p[0]), static_cast<float>(p[1]),
                                          static_cast<float>(p[2]));
        surfels.normalCodes[i] = KaCQuantizedNormal::Encode(CbVector3f(
            static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])));
        surfels.tissueTypes[i] = 0;
        surfels.boundaryFlags[i] = 0;
        if (surfels.colors != nullptr) {
            const uint8_t* c =
                arrays.colours != nullptr ? arrays.colours + 3 * static_cast<size_t>(i) : nullptr;
            surfels.colors[i] =
                c != nullptr ? KaCCompressedColor(c[0], c[1], c[2]) : KaCCompressedColor();
            surfels.curvatures[i] = 0;
        }
        if (surfels.qualities != nullptr) {
            surfels.qualities[i] = static_cast<float>(arrays.qualities[i]);
        }
    }
    collection->SurfelsWritten(0, count);
    CbSmartPointer<CCT_DepthImage> model = CCT_DepthImage::Create(collection, true);
    model->SetFilename(name);
    model->SetAcquireSequenceNumber(sequenceNumber);
    return model;
}
