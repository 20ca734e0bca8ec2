#include "platform/granary/CyTriangulationBase.h"

#include <string>
#include <utility>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(CyTriangulationBase, nullptr, &CyTriangulationBase::CreateByFactory,
               &CyTriangulationBase::CloneByFactory)

namespace {
constexpr uint32_t c_currentVersion = 1;
}  // namespace

void CyTriangulationBase::AddTriangle(uint32_t a, uint32_t b, uint32_t c) {
    if (m_triangles.size() >= UINT32_MAX) {
        CB_THROW(CbException, "CyTriangulationBase::AddTriangle: the triangulation is full");
    }
    m_triangles.push_back({a, b, c});
}

const CyTriangulationBase::Triangle& CyTriangulationBase::GetTriangle(uint32_t index) const {
    if (index >= m_triangles.size()) {
        CB_THROW(CbException, "CyTriangulationBase::GetTriangle: index " + std::to_string(index) +
                                  " out of range");
    }
    return m_triangles[index];
}

void CyTriangulationBase::SetTriangles(std::vector<Triangle> triangles) {
    if (triangles.size() >= UINT32_MAX) {
        CB_THROW(CbException, "CyTriangulationBase::SetTriangles: too many triangles");
    }
    m_triangles = std::move(triangles);
}

void CyTriangulationBase::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteVersion(c_currentVersion);
    stream.WriteUInt32(GetNrTriangles());
    for (const Triangle& triangle : m_triangles) {
        stream.WriteUInt32(triangle[0]);
        stream.WriteUInt32(triangle[1]);
        stream.WriteUInt32(triangle[2]);
    }
}

void CyTriangulationBase::Serialize(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("CyTriangulationBase record", {c_currentVersion});
    const uint32_t count = stream.ReadCount(3 * sizeof(uint32_t), "triangle");
    std::vector<Triangle> triangles(count);
    for (Triangle& triangle : triangles) {
        triangle[0] = stream.ReadUInt32();
        triangle[1] = stream.ReadUInt32();
        triangle[2] = stream.ReadUInt32();
    }
    m_triangles = std::move(triangles);
}
