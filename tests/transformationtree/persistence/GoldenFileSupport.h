#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/abacus/CbMatrix4Rd.h"
#include "platform/granary/KaCModelCCT.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/lattice/CyUniqueID.h"
#include "transformationtree/nodes/KaCTransformationNode.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

// What the golden file writer and the golden file test share: the transformations the files
// hold, and nodes and models with fixed IDs (the writer builds the recorded tree from them;
// the test maps them so that references in single records resolve).
namespace GoldenFileSupport {

// The rotation by `quarterTurns` times 90 degrees about the z axis, then the translation by
// (x, y, z). Every value is exact, so matrices compare bit for bit.
inline CbMatrix4Rd Trafo(int quarterTurns, double x, double y, double z) {
    constexpr double c_cos[4] = {1, 0, -1, 0};
    constexpr double c_sin[4] = {0, 1, 0, -1};
    const int k = ((quarterTurns % 4) + 4) % 4;
    return CbMatrix4Rd(std::array<double, 16>{c_cos[k], c_sin[k], 0, 0, -c_sin[k], c_cos[k], 0, 0,
                                              0, 0, 1, 0, x, y, z, 1});
}

// A fresh node with the ID `id`, made the way reading makes nodes: by the node serialization
// mapper from a node-for-instantiation record. The mapper keeps it mapped until ClearMapping.
inline CbSmartPointer<KaCTransformationNode> NodeWithId(bool leaf, const std::wstring& id) {
    CbStreamWriteBinaryBuffer record;
    record.WriteWideString(leaf ? L"KaCTransformationNodeLeaf" : L"KaCTransformationNodeInner");
    CyUniqueID(id).Serialize(record);
    CbStreamReadBinaryBuffer stream(record.GetBuffer());
    return KaCTransformationNodeSerializationIDMapper::GetInstance().ReadNodeAndInstantiate(stream);
}

// A model of `surfels` whose ID, file name and sequence number are set by reading a metadata
// record (version 1), the only way a model takes a given ID.
inline CbSmartPointer<KaCModelCCT> ModelWithId(CbSmartPointer<KaCSurfelCollectionCCT> surfels,
                                               const std::wstring& id, const std::wstring& filename,
                                               uint64_t sequenceNumber) {
    CbSmartPointer<KaCModelCCT> model = KaCModelCCT::Create(std::move(surfels), true);
    CbStreamWriteBinaryBuffer record;
    record.WriteVersion(1);
    CyUniqueID(id).Serialize(record);
    record.WriteWideString(filename);
    record.WriteUInt64(sequenceNumber);
    CbStreamReadBinaryBuffer stream(record.GetBuffer());
    model->SerializeMetaData(stream);
    return model;
}

}  // namespace GoldenFileSupport
