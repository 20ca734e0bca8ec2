#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/harbor/CbArray.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

using namespace TreeTestSupport;

namespace {

using Mapper = KaCTransformationNodeSerializationIDMapper;

// Node-for-instantiation records of `nodes`, in order.
std::vector<uint8_t> records(const std::vector<Node>& nodes) {
    Mapper& mapper = Mapper::GetInstance();
    CbStreamWriteBinaryBuffer stream;
    for (const Node& node : nodes) {
        mapper.WriteNodeForInstantiationUnmapped(stream, *node);
    }
    mapper.ClearMapping();
    return stream.GetBuffer();
}

}  // namespace

class IdMapperBatchTest : public TreeFixture {};

// Reading records one by one and all at once maps the same IDs to nodes of the same classes;
// a repeated ID maps to the node of its last record, also when lookups come in record order
// (which the mapper answers from its list of instantiated nodes); unknown IDs map to none.
TEST_F(IdMapperBatchTest, BatchAndSingleReadsMapAlikeAndRepeatedIdsTakeTheLastRecord) {
    Mapper& mapper = Mapper::GetInstance();
    CbCriticalSectionAuto lock(mapper.GetCriticalSection());
    std::vector<Node> originals;
    for (int i = 0; i < 50; ++i) {
        originals.push_back(i % 3 == 0 ? Node(m_manager.CreateInnerNode())
                                       : Node(m_manager.CreateLeafNode(MakeModel(2, i))));
    }
    // Node 10's ID comes again at the end, on an inner node.
    std::vector<Node> written = originals;
    Node repeated = m_manager.CreateInnerNode();
    written.push_back(repeated);
    std::vector<uint8_t> bytes = records(written);
    const CyUniqueID::Bytes repeatedId = originals[10]->GetID().GetBytes();
    std::copy(repeatedId.begin(), repeatedId.end(), bytes.end() - 16);

    // A batch's nodes are held by its caller, not by the map, until ClearMapping.
    std::vector<Node> held;
    for (bool batch : {false, true}) {
        SCOPED_TRACE(batch ? "batch" : "single");
        mapper.ClearMapping();
        CbStreamReadBinaryBuffer stream(bytes);
        std::vector<Node> read;
        if (batch) {
            read = mapper.ReadNodesAndInstantiate(stream, static_cast<uint32_t>(written.size()));
        } else {
            for (size_t i = 0; i < written.size(); ++i) {
                read.push_back(mapper.ReadNodeAndInstantiate(stream));
            }
        }
        ASSERT_EQ(read.size(), written.size());
        EXPECT_EQ(stream.GetRemaining(), 0u);
        for (size_t i = 0; i < originals.size(); ++i) {
            EXPECT_EQ(read[i]->GetID(), originals[i]->GetID());
            EXPECT_EQ(read[i]->IsLeaf(), originals[i]->IsLeaf());
            EXPECT_EQ(read[i]->GetName(), originals[i]->GetID().ToString());
        }
        // In record order, backwards, and the repeated one.
        for (size_t i = 0; i < originals.size(); ++i) {
            EXPECT_EQ(mapper.GetNode(originals[i]->GetID()), i == 10 ? read.back() : read[i]);
        }
        for (size_t i = originals.size(); i-- > 0;) {
            EXPECT_EQ(mapper.GetNode(originals[i]->GetID()), i == 10 ? read.back() : read[i]);
        }
        EXPECT_FALSE(read.back()->IsLeaf());
        EXPECT_EQ(mapper.GetNode(repeated->GetID()), nullptr);
        EXPECT_EQ(mapper.GetNode(CyUniqueID()), nullptr);
        CbArray<CyUniqueID, 0, CbArrayPolicyConstructDefault> ids;
        mapper.ListMappedModelIDs(ids);
        EXPECT_EQ(ids.GetSize(), originals.size());
        held = read;
    }
    // SetNode replaces a mapping made by a record; lookups in record order see it.
    mapper.SetNode(originals[11]->GetID(), originals[0]);
    EXPECT_EQ(mapper.GetNode(originals[10]->GetID())->GetID(), originals[10]->GetID());
    EXPECT_EQ(mapper.GetNode(originals[11]->GetID()), originals[0]);
    EXPECT_EQ(mapper.GetNode(originals[12]->GetID())->GetID(), originals[12]->GetID());
    mapper.ClearMapping();
    EXPECT_EQ(mapper.GetNode(originals[12]->GetID()), nullptr);
}

// A batch stops after a record of a class that cannot be created (which maps its ID to no
// node), and maps nothing when a record throws.
TEST_F(IdMapperBatchTest, BatchStopsAtUnknownClassesAndMapsNothingOnErrors) {
    Mapper& mapper = Mapper::GetInstance();
    CbCriticalSectionAuto lock(mapper.GetCriticalSection());
    Node first = m_manager.CreateInnerNode();
    Node third = m_manager.CreateLeafNode(nullptr);
    CbStreamWriteBinaryBuffer stream;
    mapper.WriteNodeForInstantiationUnmapped(stream, *first);
    stream.WriteWideString(L"NoSuchNodeClass");
    const CyUniqueID unknownId;
    unknownId.Serialize(stream);
    mapper.WriteNodeForInstantiationUnmapped(stream, *third);
    mapper.ClearMapping();

    CbStreamReadBinaryBuffer good(stream.GetData(), stream.GetCount());
    std::vector<Node> read = mapper.ReadNodesAndInstantiate(good, 3);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0]->GetID(), first->GetID());
    EXPECT_EQ(read[1], nullptr);
    EXPECT_EQ(mapper.GetNode(first->GetID()), read[0]);
    EXPECT_EQ(mapper.GetNode(third->GetID()), nullptr);
    mapper.ClearMapping();

    // Cut in the middle of the second record: nothing is mapped.
    std::vector<uint8_t> twoGood = records({first, third});
    CbStreamReadBinaryBuffer truncated(twoGood.data(), twoGood.size() - 1);
    EXPECT_THROW(mapper.ReadNodesAndInstantiate(truncated, 2), CbException);
    EXPECT_EQ(mapper.GetNode(first->GetID()), nullptr);
    mapper.ClearMapping();
}
