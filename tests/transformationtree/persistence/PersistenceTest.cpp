#include <gtest/gtest.h>

#include <algorithm>

#include "platform/abacus/CyExceptionNotInvertible.h"
#include "platform/granary/KaCModelSerializationIDMapper.h"
#include "platform/harbor/CbExceptionWrongFileVersion.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/velmar/VelmarDepthImage.h"
#include "tests/harbor/AllocationProbe.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/nodevectors/KaCNodeVector.h"
#include "transformationtree/nodevectors/KaCNodeVectorVelmar.h"
#include "transformationtree/persistence/KaCTransformationNodeSerializationIDMapper.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

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

// Reads `bytes` into `node` as a structure record while `mapped` nodes and models are known.
void readStructure(const Node& node, const Bytes& bytes, const std::vector<Node>& mapped = {}) {
    mapper().ClearMapping();
    KaCModelSerializationIDMapper::GetInstance().ClearMapping();
    for (const Node& known : mapped) {
        mapper().SetNode(known->GetID(), known);
        if (known->GetModel()) {
            KaCModelSerializationIDMapper::GetInstance().SetModel(known->GetModel()->GetId(),
                                                                  known->GetModel());
        }
    }
    CbStreamReadBinaryBuffer stream(bytes);
    node->SerializeStructure(stream);
    EXPECT_EQ(stream.GetRemaining(), 0u);
    mapper().ClearMapping();
    KaCModelSerializationIDMapper::GetInstance().ClearMapping();
}

template <class T>
CbSmartPointer<T> create(const wchar_t* className) {
    return CbCreateByName<T>(className);
}

Bytes idBytes(const CyUniqueID& id) {
    return record([&](auto& s) { id.Serialize(s); });
}

// `bytes` with every occurrence of `from`, or only the first, replaced by `to`.
Bytes replaced(Bytes bytes, const Bytes& from, const Bytes& to, bool all = true) {
    auto it = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
    while (it != bytes.end()) {
        it = std::copy(to.begin(), to.end(), it);
        it = all ? std::search(it, bytes.end(), from.begin(), from.end()) : bytes.end();
    }
    return bytes;
}

// The message of the CbException that reading `bytes` as a tree record throws.
std::string treeReadError(const Bytes& bytes) {
    CbStreamReadBinaryBuffer stream(bytes);
    try {
        KaCTransformationTreeSerializer::Read(stream, false);
    } catch (const CbException& problem) {
        return problem.GetMessage();
    }
    return "no exception";
}

}  // namespace

TEST_F(PersistenceTest, SerializationIdMapperRecords) {
    Leaf leaf = m_manager.CreateLeafNode(MakeModel(1));
    mapper().ClearMapping();
    Bytes nullReference = record([](auto& s) { mapper().WriteNodeByReference(s, nullptr); });
    EXPECT_EQ(nullReference, Bytes(16, 0));
    CbStreamReadBinaryBuffer nullStream(nullReference);
    EXPECT_FALSE(mapper().ReadNodeByReference(nullStream));

    Bytes instantiation = record([&](auto& s) { mapper().WriteNodeForInstantiation(s, leaf); });
    EXPECT_EQ(mapper().GetNode(leaf->GetID()), leaf);
    mapper().ClearMapping();
    CbStreamReadBinaryBuffer stream(instantiation);
    Node made = mapper().ReadNodeAndInstantiate(stream);
    ASSERT_TRUE(made);
    EXPECT_NE(made, leaf);
    EXPECT_TRUE(made->Is(KaCTransformationNodeLeaf::RTTI));
    EXPECT_EQ(made->GetID(), leaf->GetID());
    EXPECT_EQ(mapper().GetNode(leaf->GetID()), made);
    EXPECT_FALSE(made->IsVisible());

    // The abstract base has no factory: the ID is mapped to no node, and listed.
    CbStreamWriteBinaryBuffer abstract;
    abstract.WriteWideString(L"KaCTransformationNode");
    CyUniqueID abstractId;
    abstractId.Serialize(abstract);
    CbStreamReadBinaryBuffer abstractStream(abstract.GetBuffer());
    EXPECT_FALSE(mapper().ReadNodeAndInstantiate(abstractStream));
    EXPECT_FALSE(mapper().GetNode(abstractId));
    EXPECT_FALSE(mapper().GetNode(CyUniqueID()));  // asking adds no entry

    CbArray<CyUniqueID, 0, CbArrayPolicyConstructDefault> ids;
    ids.Add(CyUniqueID());
    ids.Add(CyUniqueID());
    CbWeakPointer<KaCTransformationNode> first = made;
    {
        Inner replacement = m_manager.CreateInnerNode();
        mapper().SetNode(leaf->GetID(), replacement);
        EXPECT_EQ(mapper().GetNode(leaf->GetID()), replacement);
    }
    made = nullptr;
    EXPECT_FALSE(first.Lock());  // the map released the earlier node
    mapper().SetNode(CyUniqueID(), nullptr);
    mapper().ListMappedModelIDs(ids);
    EXPECT_EQ(ids.GetSize(), 5u);
    mapper().ClearMapping();
}

TEST_F(PersistenceTest, StructureRecordsOfEveryVersion) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    Leaf a1 = tree.leaf(L"a1");
    a1->IsKeyframe(true);
    a1->SetIsNewEntryScan(true);
    a1->SetCleanedUp(true);

    // A leaf reads back its father and its fields (compared in full by WholeTreesRoundTrip),
    // but for the cleaned-up flag, which is not stored.
    Bytes leafRecord = record([&](auto& s) { a1->SerializeStructure(s); });
    auto copy = create<KaCTransformationNodeLeaf>(L"KaCTransformationNodeLeaf");
    const std::wstring madeAs = copy->GetID().ToString();  // its name, not asked for yet
    readStructure(copy, leafRecord, {tree["A"], a1});
    EXPECT_EQ(copy->GetID(), a1->GetID());
    EXPECT_EQ(copy->GetName(), madeAs);  // named after the ID it was made with
    EXPECT_EQ(copy->GetFather(), tree["A"]);
    EXPECT_TRUE(copy->IsVisible() && copy->IsKeyframe() && copy->IsNewEntryScan());
    EXPECT_FALSE(copy->IsCleanedUp());

    // Older leaf records carry fewer flags; the rest keep their values.
    Bytes base = record([&](auto& s) { a1->KaCTransformationNode::SerializeStructure(s); });
    for (uint32_t version : {1u, 2u}) {
        Bytes old = base;
        Bytes tail = record([&](auto& s) {
            s.WriteVersion(version);
            if (version == 2) {
                s.WriteBool(true);
            }
        });
        old.insert(old.end(), tail.begin(), tail.end());
        auto fresh = create<KaCTransformationNodeLeaf>(L"KaCTransformationNodeLeaf");
        readStructure(fresh, old, {tree["A"], a1});
        EXPECT_FALSE(fresh->IsKeyframe());
        EXPECT_EQ(fresh->IsNewEntryScan(), version == 2);
    }

    // Unknown versions: base 2, inner 2, leaf 4.
    auto reject = [&](const Node& node, Bytes bytes, size_t versionAt, uint8_t version) {
        bytes[versionAt] = version;
        KaCModelSerializationIDMapper::GetInstance().SetModel(a1->GetModel()->GetId(),
                                                              a1->GetModel());
        CbStreamReadBinaryBuffer stream(bytes);
        EXPECT_THROW(node->SerializeStructure(stream), CbExceptionWrongFileVersion);
        KaCModelSerializationIDMapper::GetInstance().ClearMapping();
    };
    reject(create<KaCTransformationNodeLeaf>(L"KaCTransformationNodeLeaf"), leafRecord, 0, 2);
    reject(create<KaCTransformationNodeLeaf>(L"KaCTransformationNodeLeaf"), leafRecord, base.size(),
           4);
    Bytes innerRecord = record([&](auto& s) { tree["A"]->SerializeStructure(s); });
    Bytes innerBase =
        record([&](auto& s) { tree["A"]->KaCTransformationNode::SerializeStructure(s); });
    reject(create<KaCTransformationNodeInner>(L"KaCTransformationNodeInner"), innerRecord,
           innerBase.size(), 2);
}

TEST_F(PersistenceTest, InnerRecordsReplaceChildrenAndPushRevisions) {
    NamedTree tree = BuildTree("R(A(a1,a2,a3),b)", m_random);
    Inner A = tree.inner(L"A");
    CbSmartPointer<KaCModelCCT> model = MakeModel(2);
    model->SetFilename(L"model");
    A->SetModel(model, 9);
    A->SetNodeRevision(500, KaCTransformationNode::eRevisionModel);
    A->SetNodeRevision(501, KaCTransformationNode::eRevisionTrafo);
    Bytes innerRecord = record([&](auto& s) { A->SerializeStructure(s); });

    auto copy = create<KaCTransformationNodeInner>(L"KaCTransformationNodeInner");
    copy->SetDescription(L"will be replaced");
    readStructure(copy, innerRecord, {tree.root, A, tree["a1"], tree["a2"], tree["a3"]});
    EXPECT_EQ(copy->GetModel(), A->GetModel());
    EXPECT_EQ(copy->GetModelRevision(), 9);
    EXPECT_EQ(model->GetFilename(), L"model");  // reading the description renames nothing
    ASSERT_EQ(copy->GetNrChildren(), 3u);
    EXPECT_EQ(*copy->BeginChild(), tree["a1"]);
    EXPECT_EQ(copy->BackChild(), tree["a3"]);
    Inner later = m_manager.CreateInnerNode();
    EXPECT_GE(later->GetNodeRevision(KaCTransformationNode::eRevisionModel), 502);

    // Unresolved children leave no empty entries; an empty child list releases the old one.
    readStructure(copy, innerRecord, {tree["a2"], A});
    ASSERT_EQ(copy->GetNrChildren(), 1u);
    EXPECT_EQ(copy->FrontChild(), tree["a2"]);
    EXPECT_FALSE(copy->GetFather());
    Inner empty = m_manager.CreateInnerNode();
    readStructure(copy, record([&](auto& s) { empty->SerializeStructure(s); }));
    EXPECT_EQ(copy->GetNrChildren(), 0u);

    // A record naming a father below the node would close a cycle of fathers: refused, and
    // the node keeps its father.
    NamedTree chain = BuildTree("R(P(Q(q)))", m_random);
    Bytes moved = record([&](auto& s) { chain["P"]->SerializeStructure(s); });
    const Bytes rootId = idBytes(chain.root->GetID());
    const Bytes belowId = idBytes(chain["Q"]->GetID());
    auto at = std::search(moved.begin(), moved.end(), rootId.begin(), rootId.end());
    ASSERT_NE(at, moved.end());
    std::copy(belowId.begin(), belowId.end(), at);
    EXPECT_THROW(readStructure(chain["P"], moved, {chain.root, chain["P"], chain["Q"]}),
                 CbException);
    mapper().ClearMapping();
    KaCModelSerializationIDMapper::GetInstance().ClearMapping();
    EXPECT_EQ(chain["P"]->GetFather(), chain.root);
}

TEST_F(PersistenceTest, WholeTreesRoundTrip) {
    for (int round = 0; round < 8; ++round) {
        Inner root = BuildRandomTree(m_random, 10 + round * 15);
        int index = 0;
        for (auto it = root->BeginNode(); it; ++it, ++index) {
            KaCTransformationNode& node = *it.GetCurrentNode();
            node.SetDescription(L"Knoten \u00fc\u00df " + std::to_wstring(index));
            node.SetVisible(index % 3 == 0);
            if (node.IsLeaf()) {
                auto& leaf = static_cast<KaCTransformationNodeLeaf&>(node);
                leaf.IsKeyframe(index % 2 == 0);
                leaf.SetIsNewEntryScan(index % 5 == 0);
            } else if (index % 4 == 1) {
                static_cast<KaCTransformationNodeInner&>(node).SetModel(MakeModel(3, index), index);
            }
        }
        Bytes bytes = record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, root); });
        CbStreamReadBinaryBuffer stream(bytes);
        Inner read = KaCTransformationTreeSerializer::Read(stream, false);
        EXPECT_EQ(stream.GetRemaining(), 0u);
        EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, read), L"")
            << "round " << round;
        EXPECT_NE(read, root);
        // Read nodes are named after their own IDs.
        EXPECT_EQ(read->BackLeaf()->GetName(), read->BackLeaf()->GetID().ToString());
        // A second, registered, read conflicts with the registered original.
        CbStreamReadBinaryBuffer again(bytes);
        EXPECT_THROW(KaCTransformationTreeSerializer::Read(again, true), CbException);
    }
    // The comparator does see a difference.
    NamedTree one = BuildTree("R(a,b)", m_random);
    Bytes bytes = record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, one.root); });
    CbStreamReadBinaryBuffer stream(bytes);
    Inner read = KaCTransformationTreeSerializer::Read(stream, false);
    read->BackChild()->SetDescription(L"changed");
    EXPECT_NE(KaCTransformationTreeComparator::FirstDifference(one.root, read), L"");
}

TEST_F(PersistenceTest, WholeTreeReaderRefusesBadBytes) {
    NamedTree tree = BuildTree("R(A(a1,a2),B(b1),c)", m_random);
    Bytes bytes = record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    const size_t registered = m_manager.GetNrRegisteredNodes();
    for (size_t length = 0; length < bytes.size(); length += 7) {
        CbStreamReadBinaryBuffer truncated(bytes.data(), length);
        EXPECT_THROW(KaCTransformationTreeSerializer::Read(truncated), CbException) << length;
    }
    Bytes wrongVersion = bytes;
    wrongVersion[0] = 9;
    CbStreamReadBinaryBuffer versionStream(wrongVersion);
    EXPECT_THROW(KaCTransformationTreeSerializer::Read(versionStream), CbExceptionWrongFileVersion);

    // Flipped bytes either still give a tree or are refused; never a crash or a half tree.
    std::mt19937 random(5);
    for (int i = 0; i < 300; ++i) {
        Bytes corrupted = bytes;
        corrupted[random() % corrupted.size()] ^= static_cast<uint8_t>(1 + random() % 255);
        CbStreamReadBinaryBuffer stream(corrupted);
        try {
            Inner read = KaCTransformationTreeSerializer::Read(stream, false);
            EXPECT_GE(read->GetNrChildren(), 1u);
        } catch (const CbException&) {
        }
    }
    EXPECT_EQ(m_manager.GetNrRegisteredNodes(), registered);
}

TEST_F(PersistenceTest, TreeReaderRefusesMissingOrRepeatedModelsAndTheInvalidNodeId) {
    NamedTree tree = BuildTree("R(a,b)", m_random);
    const Bytes bytes =
        record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    const Bytes modelA = idBytes(tree["a"]->GetModel()->GetId());
    const Bytes modelB = idBytes(tree["b"]->GetModel()->GetId());
    // A model's ID appears first in its model record, then in its leaf's structure record.
    EXPECT_NE(treeReadError(replaced(bytes, modelA, idBytes(CyUniqueID()), false))
                  .find("which no model record holds"),
              std::string::npos);
    EXPECT_NE(treeReadError(replaced(bytes, modelB, modelA)).find("appears twice"),
              std::string::npos);
    EXPECT_NE(treeReadError(replaced(bytes, idBytes(tree["b"]->GetID()), Bytes(16, 0)))
                  .find("invalid ID"),
              std::string::npos);

    // Writing refuses two models with one ID, which the record could not tell apart.
    CbStreamReadBinaryBuffer stream(bytes);
    Inner copy = KaCTransformationTreeSerializer::Read(stream, false);
    m_manager.AppendChild(tree.root, m_manager.CreateLeafNode(copy->FrontChild()->GetModel()),
                          true);
    CbStreamWriteBinaryBuffer refused;
    EXPECT_THROW(KaCTransformationTreeSerializer::Write(refused, tree.root), CbException);
}

TEST_F(PersistenceTest, NodeCountsMustLeaveRoomForCompleteNodes) {
    // Nodes are made as their instantiation records are read. Counts of them that only the
    // instantiation records fill, or that fill the smallest complete node records with
    // padding, must not make the reader hold much more than the record's size.
    Leaf leaf = m_manager.CreateLeafNode(nullptr);
    const Bytes instantiation =
        record([&](auto& s) { mapper().WriteNodeForInstantiation(s, leaf); });
    mapper().ClearMapping();
    constexpr uint32_t c_nodes = 2000;
    for (uint64_t bytesPerNode :
         {instantiation.size(), KaCTransformationTreeSerializer::c_minimumNodeBytes}) {
        CbStreamWriteBinaryBuffer hostile;
        hostile.WriteVersion(KaCTransformationTreeSerializer::c_version);
        hostile.WriteUInt32(c_nodes);
        for (uint32_t i = 0; i < c_nodes; ++i) {
            hostile.WriteBuffer(instantiation.data(), instantiation.size());
        }
        hostile.WriteBuffer(Bytes(c_nodes * (bytesPerNode - instantiation.size())).data(),
                            c_nodes * (bytesPerNode - instantiation.size()));
        CbStreamReadBinaryBuffer stream(hostile.GetBuffer());
        AllocationProbe::Arm();
        EXPECT_THROW(KaCTransformationTreeSerializer::Read(stream, false), CbException);
        AllocationProbe::Disarm();
        EXPECT_LT(AllocationProbe::Requested(), 3 * hostile.GetCount()) << bytesPerNode;
    }
}

// The reader checks the shape of what it read in one walk: a list that names a child twice
// and a child that names a father other than the one listing it are refused (each leaves
// some node listed wrongly while every count still adds up).
TEST_F(PersistenceTest, TreeReaderRefusesChildListsThatDisagreeWithFathers) {
    NamedTree tree = BuildTree("R(A(a1,a2),B(b1))", m_random);
    const Bytes bytes =
        record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, tree.root); });
    // `bytes` with the n-th occurrence (from 1) of `from` replaced by `to`.
    auto nth = [&](const Node& from, const Node& to, int n) {
        const Bytes pattern = idBytes(from->GetID());
        Bytes changed = bytes;
        auto it = changed.begin();
        for (int found = 0; found < n; ++found, ++it) {
            it = std::search(it, changed.end(), pattern.begin(), pattern.end());
            EXPECT_NE(it, changed.end());
        }
        const Bytes replacement = idBytes(to->GetID());
        std::copy(replacement.begin(), replacement.end(), it - 1);
        return changed;
    };
    // Records in pre-order: instantiation records, then structure records whose inner parts
    // list the children. a2's ID: instantiated (1), in A's list (2), in its own record (3).
    EXPECT_NE(treeReadError(nth(tree["a2"], tree["a1"], 2)).find("listed twice"),
              std::string::npos);
    // A's ID: instantiated (1), in R's list (2), in its own record (3), as a1's father (4).
    EXPECT_NE(treeReadError(nth(tree["A"], tree["B"], 4)).find("names another father"),
              std::string::npos);
    EXPECT_EQ(treeReadError(bytes), "no exception");

    // B's list growing a second child, a1, after b1: every record still comes in walk order,
    // and only the end of the walk finds the extra entry (a1 names A as its father).
    {
        const Bytes b1 = idBytes(tree["b1"]->GetID());
        const Bytes a1 = idBytes(tree["a1"]->GetID());
        Bytes longer = bytes;
        // b1's ID: instantiated (1), in B's list (2) after the list's count.
        auto at = std::search(longer.begin(), longer.end(), b1.begin(), b1.end());
        at = std::search(at + 1, longer.end(), b1.begin(), b1.end());
        ASSERT_NE(at, longer.end());
        ASSERT_EQ(*(at - 4), 1);
        *(at - 4) = 2;
        longer.insert(at + 16, a1.begin(), a1.end());
        EXPECT_NE(treeReadError(longer).find("names another father"), std::string::npos);
    }

    // A and B naming each other as fathers (R's ID: instantiated, in its own record, as A's
    // father, as B's father) are refused, and dropping them does not climb the cycle.
    Bytes cycle = bytes;
    const Bytes rootId = idBytes(tree.root->GetID());
    std::vector<Bytes::iterator> found;
    for (auto it = std::search(cycle.begin(), cycle.end(), rootId.begin(), rootId.end());
         it != cycle.end(); it = std::search(it + 1, cycle.end(), rootId.begin(), rootId.end())) {
        found.push_back(it);
    }
    ASSERT_EQ(found.size(), 4u);
    const Bytes idA = idBytes(tree["A"]->GetID());
    const Bytes idB = idBytes(tree["B"]->GetID());
    std::copy(idB.begin(), idB.end(), found[2]);
    std::copy(idA.begin(), idA.end(), found[3]);
    EXPECT_NE(treeReadError(cycle).find("names another father"), std::string::npos);
}

// A read tree walks like its original, and walks notice later changes to it; revisions read
// stay below every revision drawn afterwards.
TEST_F(PersistenceTest, ReadTreesWalkAndDrawRevisionsBeyondThoseRead) {
    Inner root = BuildRandomTree(m_random, 60);
    const int64_t now =
        m_manager.CreateLeafNode(nullptr)->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    const int64_t stored = now + (int64_t{1} << 40);
    root->BackLeaf()->SetNodeRevision(stored, KaCTransformationNode::eRevisionAll);
    const Bytes bytes = record([&](auto& s) { KaCTransformationTreeSerializer::Write(s, root); });
    CbStreamReadBinaryBuffer stream(bytes);
    Inner read = KaCTransformationTreeSerializer::Read(stream, false);

    size_t written = 0;
    for (auto it = root->BeginNode(); it; ++it) {
        ++written;
    }
    // Every node's walk trafo against its product along the father chain; returns an inner
    // node below the root.
    auto checkWalk = [&](const char* when) {
        size_t nodes = 0;
        Node inner;
        for (auto it = read->BeginNode(); it; ++it, ++nodes) {
            KaCTransformationNodeWithTrafo value = *it;
            Node node = value.GetNode();
            EXPECT_TRUE(Near(node->GetRelativeTrafo(read), value.GetTrafo(), 1e-9)) << when;
            if (!inner && !node->IsLeaf() && node != read) {
                inner = node;
            }
        }
        EXPECT_EQ(nodes, written) << when;
        return inner;
    };
    Node inner = checkWalk("after reading");
    ASSERT_TRUE(inner);
    inner->SetRelativeTrafo(RandomRigid(m_random) * inner->GetRelativeTrafo());
    checkWalk("after a change");

    read->BackLeaf()->NewNodeRevision(KaCTransformationNode::eRevisionAll);
    EXPECT_GT(read->BackLeaf()->GetNodeRevision(KaCTransformationNode::eRevisionAll), stored);
}
