#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStringConversion.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/attributes/KaCBackgroundOptimizationLoopCountAttribute.h"
#include "transformationtree/attributes/KaCRepresentativeAttribute.h"
#include "transformationtree/nodes/KaCTransformationNodeLeaf.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

using namespace TreeTestSupport;

namespace {

using Bytes = std::vector<uint8_t>;

// The tree record written field by field, one stream call per value, as the record layout
// describes it: the yardstick for the serializer, which writes fixed-size parts in blocks
// and must give the same bytes.
class ReferenceWriter {
public:
    // The record with the nodes in walk order, as the serializer writes them, or with all
    // but the root in an order drawn from `shuffle`, which readers accept as well.
    static Bytes Write(const Inner& root, std::mt19937* shuffle = nullptr) {
        CbStreamWriteBinaryBuffer s;
        std::vector<Node> nodes;
        for (KaCTransformationNode::KaNNodeIterator it = root->BeginNode(); it; ++it) {
            nodes.push_back(it.GetCurrentNode());
        }
        if (shuffle != nullptr) {
            std::shuffle(nodes.begin() + 1, nodes.end(), *shuffle);
        }
        std::vector<CbSmartPointer<const KaCModelCCT>> models;
        for (const Node& node : nodes) {
            CbSmartPointer<const KaCModelCCT> model = node->GetModel();
            if (model && std::find(models.begin(), models.end(), model) == models.end()) {
                models.push_back(model);
            }
        }
        s.WriteUInt32(1);
        s.WriteUInt32(static_cast<uint32_t>(nodes.size()));
        for (const Node& node : nodes) {
            wideString(s, node->GetRTTI().GetName());
            id(s, node->GetID());
        }
        s.WriteUInt32(static_cast<uint32_t>(models.size()));
        for (const auto& model : models) {
            CbStreamWriteBinaryBuffer payload;
            model->SerializeMetaData(payload);
            model->SerializeGeometry(payload);
            wideString(s, model->GetClassNameW());
            s.WriteUInt64(payload.GetCount());
            for (uint8_t byte : payload.GetBuffer()) {
                s.WriteUInt8(byte);
            }
        }
        for (const Node& node : nodes) {
            structure(s, *node);
        }
        for (const Node& node : nodes) {
            node->SerializeAttributes(s);
        }
        return s.GetBuffer();
    }

private:
    static void wideString(CbStreamWriteBinary& s, const std::wstring& text) {
        std::vector<uint16_t> units;
        CbAppendUtf16(text, units);
        s.WriteUInt32(static_cast<uint32_t>(units.size()));
        for (uint16_t unit : units) {
            s.WriteUInt16(unit);
        }
    }
    static void id(CbStreamWriteBinary& s, const CyUniqueID& value) {
        for (uint8_t byte : value.GetBytes()) {
            s.WriteUInt8(byte);
        }
    }
    static void structure(CbStreamWriteBinary& s, const KaCTransformationNode& node) {
        s.WriteUInt32(1);
        id(s, KaCTransformationNode::GetID(node.GetFather()));
        id(s, node.GetModel() ? node.GetModel()->GetId() : CyUniqueID::GetInvalidID());
        s.WriteUInt32(1);
        for (int i = 0; i < 16; ++i) {
            s.WriteDouble(node.GetRelativeTrafo().Data()[i]);
        }
        wideString(s, node.GetDescription());
        id(s, node.GetID());
        s.WriteInt64(node.GetNodeRevision(KaCTransformationNode::eRevisionModel));
        s.WriteInt64(node.GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
        s.WriteBool(node.IsVisible());
        if (node.IsLeaf()) {
            const auto& leaf = static_cast<const KaCTransformationNodeLeaf&>(node);
            s.WriteUInt32(3);
            s.WriteBool(leaf.IsNewEntryScan());
            s.WriteBool(leaf.IsKeyframe());
        } else {
            const auto& inner = static_cast<const KaCTransformationNodeInner&>(node);
            s.WriteUInt32(1);
            s.WriteInt64(inner.GetModelRevision());
            s.WriteUInt32(static_cast<uint32_t>(inner.GetChildren().size()));
            for (const Node& child : inner.GetChildren()) {
                id(s, child->GetID());
            }
        }
    }
};

// A description drawn from `random`: empty, short, long (beyond every short-string path),
// or with characters outside the basic plane (two UTF-16 units each).
std::wstring randomDescription(std::mt19937& random) {
    switch (random() % 5) {
        case 0:
            return L"";
        case 1:
            return L"scan " + std::to_wstring(random() % 1000);
        case 2:
            return std::wstring(100 + random() % 200, static_cast<wchar_t>(L'a' + random() % 26));
        case 3:
            return L"jaw \U0001F9B7 " + std::to_wstring(random() % 100) + L" \u00e4\u00f6";
        default:
            return std::wstring(127 + random() % 3, L'\u20ac');
    }
}

// Random descriptions, flags, revisions and attributes on every node of `root`.
void decorate(const Inner& root, std::mt19937& random) {
    for (KaCTransformationNode::KaNNodeIterator it = root->BeginNode(); it; ++it) {
        KaCTransformationNode* node = it.GetCurrentNode();
        node->SetDescription(randomDescription(random));
        node->SetVisible(random() % 2 == 0);
        node->SetNodeRevision(static_cast<int64_t>(random() % 100000),
                              KaCTransformationNode::eRevisionModel);
        if (node->IsLeaf()) {
            auto* leaf = static_cast<KaCTransformationNodeLeaf*>(node);
            leaf->SetIsNewEntryScan(random() % 2 == 0);
            leaf->IsKeyframe(random() % 3 == 0);
        }
        if (random() % 3 == 0) {
            auto loops = CbMakeShared<KaCBackgroundOptimizationLoopCountAttribute>();
            loops->SetOptimizationLoopCount(static_cast<int>(random() % 50));
            node->SetAttribute(loops);
        }
        if (random() % 4 == 0) {
            auto representative = CbMakeShared<KaCRepresentativeAttribute>();
            representative->SetGridVoxel(static_cast<int>(random() % 9), 2, -3);
            node->SetAttribute(representative);
        }
    }
}

Bytes write(const Inner& root) {
    CbStreamWriteBinaryBuffer stream;
    KaCTransformationTreeSerializer::Write(stream, root);
    return stream.GetBuffer();
}

Inner read(const Bytes& bytes) {
    CbStreamReadBinaryBuffer stream(bytes);
    Inner root = KaCTransformationTreeSerializer::Read(stream, false);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    return root;
}

}  // namespace

class TreeRecordReferenceTest : public TreeFixture {};

// Random trees (shapes, trafos, descriptions, flags, revisions, attributes, shared and
// separate models) give the reference writer's bytes; they read back into an equal tree,
// which writes the same bytes again, and whose nodes are named after their IDs.
TEST_F(TreeRecordReferenceTest, RandomTreesMatchTheFieldByFieldRecordAndRoundTrip) {
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Inner root = BuildRandomTree(m_random, 5 + static_cast<int>(m_random() % 400));
        decorate(root, m_random);
        const Bytes expected = ReferenceWriter::Write(root);
        const Bytes written = write(root);
        ASSERT_EQ(written, expected);

        Inner copy = read(written);
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, copy), L"");
        EXPECT_EQ(write(copy), expected);
        size_t nodes = 0;
        for (KaCTransformationNode::KaNNodeIterator it = copy->BeginNode(); it; ++it, ++nodes) {
            KaCTransformationNode* node = it.GetCurrentNode();
            EXPECT_EQ(node->GetName(), node->GetID().ToString());
        }
        size_t original = 0;
        for (KaCTransformationNode::KaNNodeIterator it = root->BeginNode(); it; ++it) {
            ++original;
        }
        EXPECT_EQ(nodes, original);
    }
}

// Records whose nodes are not in walk order (other writers are free to order them) read
// into the same tree, and a child listed twice is found in them too.
TEST_F(TreeRecordReferenceTest, RecordsInAnyNodeOrderReadIntoTheSameTree) {
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Inner root = BuildRandomTree(m_random, 20 + static_cast<int>(m_random() % 200));
        decorate(root, m_random);
        const Bytes shuffled = ReferenceWriter::Write(root, &m_random);
        ASSERT_NE(shuffled, write(root));
        Inner copy = read(shuffled);
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, copy), L"");
        EXPECT_EQ(write(copy), write(root));
    }
    // The root's second child listed in place of its first, in a shuffled record.
    Inner root = BuildRandomTree(m_random, 50);
    while (root->GetChildren().size() < 2) {
        root = BuildRandomTree(m_random, 50);
    }
    Bytes bytes = ReferenceWriter::Write(root, &m_random);
    const auto first = root->GetChildren()[0]->GetID().GetBytes();
    const auto second = root->GetChildren()[1]->GetID().GetBytes();
    // The first child's ID: instantiated, then in the root's list (its second occurrence).
    auto at = std::search(bytes.begin(), bytes.end(), first.begin(), first.end());
    at = std::search(at + 1, bytes.end(), first.begin(), first.end());
    ASSERT_NE(at, bytes.end());
    std::copy(second.begin(), second.end(), at);
    CbStreamReadBinaryBuffer stream(bytes);
    try {
        KaCTransformationTreeSerializer::Read(stream, false);
        ADD_FAILURE() << "a child listed twice was read";
    } catch (const CbException& error) {
        EXPECT_NE(std::string(error.what()).find("listed twice"), std::string::npos);
    }
}

// A long chain and a wide node: the walk order of the writer and the depth check of the
// reader follow the tree's shape, not the order nodes were made in.
TEST_F(TreeRecordReferenceTest, DeepAndWideTreesMatchTheReference) {
    Inner root = m_manager.CreateInnerNode();
    Inner father = root;
    for (int depth = 0; depth < 300; ++depth) {
        Inner next = m_manager.CreateInnerNode();
        m_manager.AppendChild(father, next, true);
        if (depth % 7 == 0) {
            m_manager.AppendChild(father, m_manager.CreateLeafNode(MakeModel(3, depth)), true);
        }
        father = next;
    }
    for (int i = 0; i < 2000; ++i) {
        m_manager.AppendChild(father, m_manager.CreateLeafNode(nullptr), true);
    }
    decorate(root, m_random);
    const Bytes expected = ReferenceWriter::Write(root);
    ASSERT_EQ(write(root), expected);
    Inner copy = read(expected);
    EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, copy), L"");
}

// Leaves read from one record share one time stamp, taken when the reading began.
TEST_F(TreeRecordReferenceTest, LeavesReadTogetherShareTheirTimeStamp) {
    Inner root = BuildRandomTree(m_random, 60);
    const CbDateTime before;
    Inner copy = read(write(root));
    const CbDateTime after;
    std::vector<int64_t> times;
    for (auto it = copy->BeginLeaf(); it; ++it) {
        times.push_back(static_cast<KaCTransformationNodeLeaf*>(it.GetCurrentNode())
                            ->GetTime()
                            .GetMicrosecondsSinceEpoch());
    }
    ASSERT_FALSE(times.empty());
    EXPECT_EQ(std::count(times.begin(), times.end(), times.front()),
              static_cast<std::ptrdiff_t>(times.size()));
    EXPECT_GE(times.front(), before.GetMicrosecondsSinceEpoch());
    EXPECT_LE(times.front(), after.GetMicrosecondsSinceEpoch());
}
