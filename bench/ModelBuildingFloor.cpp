#include "bench/ModelBuildingData.h"
#include "platform/granary/KaCSurfelKernels.h"
#include "platform/granary/KaTQuantizedNormalMultiLevel.h"

// Built with the floating-point options of the surfel library (no errno, no traps) and,
// like the library's loops, for AVX2 beside the baseline, so that the compiler vectorises
// this plain loop as it does the library's: the floor is the best a straightforward loop
// gets, not a slowed-down one.

namespace ModelBuildingData {

KA_VECTOR_LOOP uint64_t RunFloor(FloorData& data) {
    float* __restrict outPosition = data.outPositions.data();
    uint16_t* __restrict outNormal = data.outNormals.data();
    uint64_t total = 0;
    for (size_t element = 0; element < data.counts.size(); ++element) {
        const CbMatrix4Rf& m = data.trafos[element];
        const float m00 = m(0, 0), m01 = m(0, 1), m02 = m(0, 2);
        const float m10 = m(1, 0), m11 = m(1, 1), m12 = m(1, 2);
        const float m20 = m(2, 0), m21 = m(2, 1), m22 = m(2, 2);
        const float m30 = m(3, 0), m31 = m(3, 1), m32 = m(3, 2);
        const float* __restrict positions = &data.positions[element]->x;
        const uint16_t* __restrict normals = data.normals[element];
        const size_t count = data.counts[element];
        for (size_t i = 0; i < count; ++i) {
            const float x = positions[3 * i], y = positions[3 * i + 1], z = positions[3 * i + 2];
            outPosition[3 * i] = x * m00 + y * m10 + z * m20 + m30;
            outPosition[3 * i + 1] = x * m01 + y * m11 + z * m21 + m31;
            outPosition[3 * i + 2] = x * m02 + y * m12 + z * m22 + m32;
        }
        for (size_t i = 0; i < count; ++i) {
            const CbVector3f n = KaCQuantizedNormal::Decode(normals[i]);
            const CbVector3f turned{n.x * m00 + n.y * m10 + n.z * m20,
                                    n.x * m01 + n.y * m11 + n.z * m21,
                                    n.x * m02 + n.y * m12 + n.z * m22};
            outNormal[i] = KaCQuantizedNormal::Encode(turned);
        }
        outPosition += 3 * count;
        outNormal += count;
        total += count;
    }
    return total;
}

}  // namespace ModelBuildingData
