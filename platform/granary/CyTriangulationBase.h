#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/IObject.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// A run-time typed, shared collection of triangles, each a triple of vertex indices into a
// surfel collection that the owner keeps alongside (the indices are not checked against it).
// Not synchronised: one writer at a time. GetTriangle with a bad index and bad stream input
// throw CbException; an unknown record version throws CbExceptionWrongFileVersion.
class CyTriangulationBase : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    using Triangle = std::array<uint32_t, 3>;

    CyTriangulationBase() = default;
    CyTriangulationBase(const CyTriangulationBase& other) = default;
    CyTriangulationBase& operator=(const CyTriangulationBase& other) = default;
    ~CyTriangulationBase() override = default;

    uint32_t GetNrTriangles() const { return static_cast<uint32_t>(m_triangles.size()); }
    // Throws when the triangulation already holds 2^32 - 1 triangles.
    void AddTriangle(uint32_t a, uint32_t b, uint32_t c);
    const Triangle& GetTriangle(uint32_t index) const;
    const std::vector<Triangle>& GetTriangles() const { return m_triangles; }
    // Throws when `triangles` holds 2^32 triangles or more.
    void SetTriangles(std::vector<Triangle> triangles);
    void Clear() { m_triangles.clear(); }

    // Record: version 1, triangle count (uint32), then the indices (3 uint32 per triangle).
    // The reader checks the count against the bytes left before it allocates and changes
    // the triangulation only once everything is read.
    virtual void Serialize(CbStreamWriteBinary& stream) const;
    virtual void Serialize(CbStreamReadBinary& stream);

private:
    CB_DECLARE_FACTORIES(CyTriangulationBase)

    std::vector<Triangle> m_triangles;
};
