#include <gtest/gtest.h>

#include <algorithm>

#include "platform/abacus/CyExceptionNotInvertible.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/velmar/VelmarDepthImage.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/nodes/KaCAcquisitionOrder.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/nodevectors/KaCNodeVectorVelmar.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"

using namespace TreeTestSupport;

namespace {

using Bytes = std::vector<uint8_t>;
using Mapper = KaCTransformationNodeSerializationIDMapper;

Mapper& mapper() {
    return Mapper::GetInstance();
}

template <class Write>
Bytes record(Write write) {
    CbStreamWriteBinaryBuffer stream;
    write(stream);
    return stream.GetBuffer();
}

}  // namespace

TEST_F(NodeVectorsTest, NodeVectorsFillAndSort) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    KaCNodeVector vector(tree.root, KaCNodeVector::eLeafNodes, c_matIdentityD, 3);
    ASSERT_EQ(vector.size(), 3u);
    EXPECT_EQ(vector[0].node, tree["a1"]);
    EXPECT_EQ(vector[0].nodeRevisions[0],
              tree["a1"]->GetNodeRevision(KaCTransformationNode::eRevisionModel));
    EXPECT_EQ(vector[0].nodeRevisions[1],
              tree["a1"]->GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
    EXPECT_EQ(vector[0].model, tree["a1"]->GetModel());
    EXPECT_TRUE(Near(tree["a1"]->GetRelativeTrafo(tree.root), vector[0].trafo));

    const CbMatrix4Rd T = RandomRigid(m_random);
    vector.AppendInnerNode(tree.root, KaCNodeVector::eAllNodes, T, 2);
    ASSERT_EQ(vector.size(), 3u + 5u);
    EXPECT_EQ(vector[3].node, tree.root);
    EXPECT_EQ(vector[3].trafo, T);
    EXPECT_EQ(vector[3].nodeRevisions[0], -1);
    EXPECT_EQ(vector[3].nodeRevisions[1],
              tree.root->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionTrafo));
    EXPECT_TRUE(Near(tree["a2"]->GetRelativeTrafo(tree.root) * T, vector[6].trafo));

    vector.SetInnerNode(tree["b"], KaCNodeVector::eLeafNodes, c_matIdentityD, 0);
    ASSERT_EQ(vector.size(), 1u);
    EXPECT_EQ(vector[0].node, tree["b"]);
    EXPECT_EQ(vector[0].nodeRevisions[0], -1);
    vector.AppendInnerNode(nullptr, KaCNodeVector::eLeafNodes, c_matIdentityD, 0);
    vector.AppendInnerNode(tree.root, static_cast<KaCNodeVector::IteratorType>(7), c_matIdentityD,
                           0);
    EXPECT_EQ(vector.size(), 1u);

    // An element below a singular transformation has no value: the vector refuses it.
    CbMatrix4Rd singular;
    singular(1, 1) = 0.0;  // the y axis collapses
    tree.inner(L"A")->SetRelativeTrafo(singular);
    EXPECT_THROW(vector.AppendInnerNode(tree.root, KaCNodeVector::eLeafNodes, c_matIdentityD, 0),
                 CyExceptionNotInvertible);

    // Acquisition order, ties by ID, nodes without model and elements without node last.
    KaCNodeVector sorted;
    Leaf late = m_manager.CreateLeafNode(MakeModel(1, 1, 9));
    Leaf early = m_manager.CreateLeafNode(MakeModel(1, 2, 3));
    Leaf tie1 = m_manager.CreateLeafNode(MakeModel(1, 3, 5));
    Leaf tie2 = m_manager.CreateLeafNode(MakeModel(1, 4, 5));
    Inner modelless = m_manager.CreateInnerNode();
    sorted.emplace_back();
    for (const Node& node : std::vector<Node>{modelless, late, tie1, early, tie2}) {
        sorted.AddNode(node, c_matIdentityD);
    }
    sorted.SortBySequenceNumber();
    const bool tie1First = tie1->GetID() < tie2->GetID();
    std::vector<Node> expected{early, tie1First ? tie1 : tie2, tie1First ? tie2 : tie1, late,
                               modelless};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(sorted[i].node, expected[i]) << i;
    }
    EXPECT_FALSE(sorted[5].node);
}

TEST_F(NodeVectorsTest, CachedRevisionsAreSubtreeMaxima) {
    Inner root = BuildRandomTree(m_random, 200);
    std::vector<Node> nodes;
    for (auto it = root->BeginNode(); it; ++it) {
        nodes.push_back(it.GetCurrentNode());
    }
    // New revisions deep down, so that maxima come from below; one leaf below -1.
    std::uniform_int_distribution<size_t> pick(0, nodes.size() - 1);
    for (int i = 0; i < 30; ++i) {
        nodes[pick(m_random)]->NewNodeRevision(1u + static_cast<unsigned int>(i % 3));
    }
    nodes.back()->SetNodeRevision(-7, KaCTransformationNode::eRevisionAll);
    // A cached leaf with a subtree: the first inner node with children below the root.
    auto cached = std::find_if(nodes.begin() + 1, nodes.end(), [](const Node& node) {
        return !node->IsLeaf() && CbStaticCast<KaCTransformationNodeInner>(node)->GetNrChildren();
    });
    ASSERT_NE(cached, nodes.end());
    CbStaticCast<KaCTransformationNodeInner>(*cached)->SetModel(MakeModel(1), 1);

    using Type = KaCNodeVector::IteratorType;
    for (Type type :
         {KaCNodeVector::eLeafNodes, KaCNodeVector::eCachedLeafNodes, KaCNodeVector::eAllNodes}) {
        for (unsigned int flags : {1u, 2u, 3u}) {
            KaCNodeVector vector(root, type, c_matIdentityD, flags);
            ASSERT_FALSE(vector.empty());
            for (const KaCNodeAccelerated& element : vector) {
                for (unsigned int index = 0; index < 2; ++index) {
                    const unsigned int mask = 1u << index;
                    const int64_t expected =
                        (flags & mask) != 0 ? element.node->GetNodeRevisionSubtree(mask) : -1;
                    EXPECT_EQ(element.nodeRevisions[index], expected)
                        << type << " " << flags << " " << element.node->GetDescription();
                }
            }
        }
    }
}

TEST_F(NodeVectorsTest, ElementsBeforeAFailedWalkKeepTheirSubtreeRevisions) {
    NamedTree tree = BuildTree("R(A(a1,a2),B(b1,b2))", m_random);
    CbMatrix4Rd singular;
    singular(1, 1) = 0.0;
    tree.inner(L"B")->SetRelativeTrafo(singular);  // b1 has no value
    tree["b2"]->NewNodeRevision(KaCTransformationNode::eRevisionAll);
    KaCNodeVector vector;
    EXPECT_THROW(vector.AppendInnerNode(tree.root, KaCNodeVector::eAllNodes, c_matIdentityD, 3),
                 CyExceptionNotInvertible);
    ASSERT_EQ(vector.size(), 5u);  // R, A, a1, a2, B
    for (const KaCNodeAccelerated& element : vector) {
        EXPECT_EQ(element.nodeRevisions[0],
                  element.node->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionModel));
        EXPECT_EQ(element.nodeRevisions[1],
                  element.node->GetNodeRevisionSubtree(KaCTransformationNode::eRevisionTrafo));
    }
    EXPECT_EQ(vector[0].nodeRevisions[1],
              tree["b2"]->GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
}

TEST_F(NodeVectorsTest, SortFollowsTheAcquisitionComparator) {
    // Sequence numbers with many ties, inner nodes without model, elements without node
    // (told apart by their trafos) and one node twice.
    Inner root = BuildRandomTree(m_random, 300);
    KaCNodeVector vector(root, KaCNodeVector::eAllNodes, c_matIdentityD, 0);
    vector.push_back(vector[17]);
    vector[17].trafo(3, 0) = 1.0;
    for (int i = 0; i < 20; ++i) {
        KaCNodeAccelerated& empty = *vector.emplace(vector.begin() + i * 13);
        empty.trafo(3, 1) = i;
    }
    KaCNodeVector expected = vector;
    auto withNode = std::stable_partition(
        expected.begin(), expected.end(),
        [](const KaCNodeAccelerated& e) { return static_cast<bool>(e.node); });
    std::stable_sort(expected.begin(), withNode,
                     [](const KaCNodeAccelerated& a, const KaCNodeAccelerated& b) {
                         return KaCAcquisitionOrder()(*a.node, *b.node);
                     });
    vector.SortBySequenceNumber();
    ASSERT_EQ(vector.size(), expected.size());
    for (size_t i = 0; i < vector.size(); ++i) {
        EXPECT_EQ(vector[i].node, expected[i].node) << i;
        EXPECT_EQ(vector[i].trafo, expected[i].trafo) << i;
    }
}

TEST_F(NodeVectorsTest, NodeVectorRecords) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    KaCNodeVector vector(tree.root, KaCNodeVector::eAllNodes, RandomRigid(m_random), 3);
    Bytes bytes = record([&](auto& s) { vector.Serialize(s); });

    auto readBack = [&](const Bytes& data, bool mapped) {
        mapper().ClearMapping();
        if (mapped) {
            for (const KaCNodeAccelerated& element : vector) {
                mapper().SetNode(element.node->GetID(), element.node);
            }
        }
        KaCNodeVectorVelmar read;  // either class reads what the other wrote
        CbStreamReadBinaryBuffer stream(data);
        read.Serialize(stream);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        mapper().ClearMapping();
        return read;
    };
    KaCNodeVectorVelmar read = readBack(bytes, true);
    ASSERT_EQ(read.size(), vector.size());
    for (size_t i = 0; i < vector.size(); ++i) {
        EXPECT_EQ(read[i].node, vector[i].node);
        EXPECT_EQ(read[i].model, vector[i].model);
        EXPECT_EQ(read[i].surfelCollection, vector[i].surfelCollection);
        EXPECT_EQ(read[i].trafo, vector[i].trafo);
        EXPECT_EQ(read[i].nodeRevisions[0], vector[i].nodeRevisions[0]);
        EXPECT_EQ(read[i].nodeRevisions[1], vector[i].nodeRevisions[1]);
    }
    // Unknown nodes read as null, with the stored trafos and revisions.
    KaCNodeVectorVelmar unknown = readBack(bytes, false);
    EXPECT_FALSE(unknown[1].node || unknown[1].model || unknown[1].surfelCollection);
    EXPECT_EQ(unknown[1].trafo, vector[1].trafo);
    EXPECT_EQ(unknown[1].nodeRevisions[1], vector[1].nodeRevisions[1]);

    // Version 1: node and trafo only; a version 2 element with three revisions.
    CbStreamWriteBinaryBuffer old;
    old.WriteVersion(1);
    old.WriteUInt32(1);
    mapper().WriteNodeByReference(old, tree["b"]);
    vector[0].trafo.Serialize(old);
    KaCNodeVectorVelmar version1 = readBack(old.GetBuffer(), true);
    ASSERT_EQ(version1.size(), 1u);
    EXPECT_EQ(version1[0].nodeRevisions[0], -1);
    EXPECT_EQ(version1[0].nodeRevisions[1], -1);
    CbStreamWriteBinaryBuffer three;
    three.WriteVersion(2);
    three.WriteUInt32(1);
    mapper().WriteNodeByReference(three, tree["b"]);
    vector[0].trafo.Serialize(three);
    three.WriteUInt32(3);
    for (int64_t revision : {11, 12, 13}) {
        three.WriteInt64(revision);
    }
    KaCNodeVectorVelmar version2 = readBack(three.GetBuffer(), true);
    EXPECT_EQ(version2[0].nodeRevisions[1], 12);

    // An unknown version changes nothing; truncations throw.
    Bytes wrong = bytes;
    wrong[0] = 3;
    CbStreamReadBinaryBuffer wrongStream(wrong);
    EXPECT_THROW(read.Serialize(wrongStream), CbExceptionWrongFileVersion);
    EXPECT_EQ(read.size(), vector.size());
    for (size_t length = 0; length < bytes.size(); length += 5) {
        KaCNodeVector target;
        CbStreamReadBinaryBuffer truncated(bytes.data(), length);
        EXPECT_THROW(target.Serialize(truncated), CbException) << length;
    }
}

TEST_F(NodeVectorsTest, DepthImagesByExactClass) {
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetBasic);
    Leaf plain = m_manager.CreateLeafNode(MakeModel(1));
    Leaf cct = m_manager.CreateLeafNode(CCT_DepthImage::Create(collection, true));
    Leaf velmar = m_manager.CreateLeafNode(VelmarDepthImage::Create(collection, true));
    KaCNodeVector vector;
    KaCNodeVectorVelmar velmarVector;
    for (const Leaf& leaf : {plain, cct, velmar, cct}) {
        vector.AddNode(leaf, c_matIdentityD);
        velmarVector.AddNode(leaf, c_matIdentityD);
    }
    ASSERT_EQ(vector.GetDepthImageVector().size(), 2u);
    EXPECT_EQ(vector.GetDepthImageVector()[0], cct->GetModel());
    ASSERT_EQ(velmarVector.GetDepthImageVector().size(), 1u);
    EXPECT_EQ(velmarVector.GetDepthImageVector()[0], velmar->GetModel());

    auto clone = CbCloneOwnedByName<KaCNodeVectorVelmar>(velmarVector);
    ASSERT_TRUE(clone);
    ASSERT_EQ(clone->size(), 4u);
    EXPECT_EQ((*clone)[2].model, velmar->GetModel());
    EXPECT_FALSE(
        CbCloneOwnedByName<KaCNodeVector>(velmarVector));  // siblings, not kinds of each other
}
