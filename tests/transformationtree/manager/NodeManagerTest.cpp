#include <gtest/gtest.h>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamWriteASCIIString.h"
#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;

namespace {

std::vector<std::wstring> childNames(const Inner& father) {
    std::vector<std::wstring> names;
    for (auto it = father->BeginChild(); it != father->EndChild(); ++it) {
        names.push_back((*it)->GetDescription());
        EXPECT_EQ((*it)->GetFather(), father) << "father link of " << (*it)->GetDescription();
    }
    return names;
}

using Names = std::vector<std::wstring>;

Leaf namedLeaf(const wchar_t* name) {
    Leaf leaf = Manager().CreateLeafNode(MakeModel(1));
    leaf->SetDescription(name);
    return leaf;
}

}  // namespace

TEST_F(ManagerTest, AppendAndInsertKeepOrderAndRenewFathers) {
    NamedTree tree = BuildTree("R(a,b)", m_random);
    Inner R = tree.root;
    Leaf c = namedLeaf(L"c");

    // Re-appending a child changes nothing, not even a revision.
    int64_t revision = R->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    m_manager.AppendChild(R, tree["a"], true);
    EXPECT_EQ(childNames(R), (Names{L"a", L"b"}));
    EXPECT_EQ(R->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);

    m_manager.AppendChild(R, c, false);
    EXPECT_EQ(childNames(R), (Names{L"c", L"a", L"b"}));
    EXPECT_GT(R->GetNodeRevision(KaCTransformationNode::eRevisionModel), revision);
    EXPECT_GT(R->GetNodeRevision(KaCTransformationNode::eRevisionTrafo),
              R->GetNodeRevision(KaCTransformationNode::eRevisionModel));

    // A child of another father is refused; both fathers stay as they were.
    Inner other = m_manager.CreateInnerNode();
    revision = other->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    EXPECT_THROW(m_manager.AppendChild(other, c, true), CbException);
    EXPECT_EQ(other->GetNrChildren(), 0u);
    EXPECT_EQ(other->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);
    EXPECT_EQ(childNames(R), (Names{L"c", L"a", L"b"}));

    Leaf d = namedLeaf(L"d");
    m_manager.InsertChild(R, CbSmartPointer<const KaCTransformationNode>(tree["b"]), d);
    EXPECT_EQ(childNames(R), (Names{L"c", L"a", L"d", L"b"}));
    Leaf e = namedLeaf(L"e");
    m_manager.InsertChild(R, CbSmartPointer<const KaCTransformationNode>(other), e);
    EXPECT_EQ(childNames(R), (Names{L"c", L"a", L"d", L"b", L"e"}));

    EXPECT_THROW(m_manager.AppendChild(nullptr, e, true), CbExceptionPreconditionViolation);
    EXPECT_THROW(m_manager.AppendChild(R, nullptr, true), CbExceptionPreconditionViolation);
}

TEST_F(ManagerTest, RemoveReplaceAndExchangeChildren) {
    NamedTree tree = BuildTree("R(a,B(b1,b2),c)", m_random);
    Inner R = tree.root;

    int64_t revision = R->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    m_manager.RemoveChild(R, tree["a"]);
    EXPECT_EQ(childNames(R), (Names{L"B", L"c"}));
    EXPECT_FALSE(tree["a"]->GetFather());
    EXPECT_EQ(m_manager.GetNodeByID(tree["a"]->GetID()), tree["a"]);
    EXPECT_GT(R->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);
    m_manager.RemoveChild(nullptr, tree["a"]);  // a null father does nothing
    EXPECT_THROW(m_manager.RemoveChild(R, tree["a"]), CbExceptionPreconditionViolation);

    // Exchange: the old child survives, detached and registered.
    Leaf x = namedLeaf(L"x");
    m_manager.ExchangeChild(R, tree["c"], x);
    EXPECT_EQ(childNames(R), (Names{L"B", L"x"}));
    EXPECT_FALSE(tree["c"]->GetFather());
    EXPECT_EQ(m_manager.GetNodeByID(tree["c"]->GetID()), tree["c"]);

    // Replace: the whole old subtree leaves the ID map, deepest nodes included.
    Leaf y = namedLeaf(L"y");
    revision = R->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    m_manager.ReplaceChild(R, tree["B"], y);
    EXPECT_EQ(childNames(R), (Names{L"y", L"x"}));
    for (const wchar_t* name : {L"B", L"b1", L"b2"}) {
        EXPECT_FALSE(m_manager.GetNodeByID(tree[name]->GetID())) << name;
    }
    EXPECT_EQ(tree.inner(L"B")->GetNrChildren(), 0u);
    EXPECT_FALSE(tree["b1"]->GetFather());
    EXPECT_GT(R->GetNodeRevision(KaCTransformationNode::eRevisionAll), revision);
}

TEST_F(ManagerTest, MoveNodeNeverReordersWithinItsFather) {
    NamedTree tree = BuildTree("R(A(a1,a2,a3),B(b1))", m_random);
    Inner A = tree.inner(L"A");
    Inner B = tree.inner(L"B");

    m_manager.MoveNode(A, tree["a1"], nullptr);
    EXPECT_EQ(childNames(A), (Names{L"a1", L"a2", L"a3"}));
    m_manager.MoveNode(A, nullptr, nullptr);

    const int64_t revisionA = A->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    const int64_t revisionB = B->GetNodeRevision(KaCTransformationNode::eRevisionAll);
    m_manager.MoveNode(B, tree["a2"], tree["b1"]);
    EXPECT_EQ(childNames(A), (Names{L"a1", L"a3"}));
    EXPECT_EQ(childNames(B), (Names{L"a2", L"b1"}));
    EXPECT_GT(A->GetNodeRevision(KaCTransformationNode::eRevisionAll), revisionA);
    EXPECT_GT(B->GetNodeRevision(KaCTransformationNode::eRevisionAll), revisionB);

    // A `before` that is not a child of the new father puts the node last.
    m_manager.MoveNode(B, tree["a3"], tree["a1"]);
    EXPECT_EQ(childNames(B), (Names{L"a2", L"b1", L"a3"}));

    // A node without father is simply inserted.
    Leaf loose = namedLeaf(L"loose");
    m_manager.MoveNode(A, loose, nullptr);
    EXPECT_EQ(childNames(A), (Names{L"a1", L"loose"}));
}

TEST_F(ManagerTest, RegistrationAndDeletion) {
    Inner inner = m_manager.CreateInnerNode();
    Leaf leaf = m_manager.CreateLeafNodeFromSurfelCollection(
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull));
    ASSERT_TRUE(leaf->GetModel());
    EXPECT_TRUE(leaf->IsVisible());
    EXPECT_EQ(m_manager.GetNodeByID(inner->GetID()), inner);
    EXPECT_EQ(m_manager.GetNodeByID(leaf->GetID()), leaf);
    EXPECT_EQ(m_manager.GetNrRegisteredNodes(), 2u);
    EXPECT_FALSE(m_manager.GetNodeByID(CyUniqueID()));

    // Deleting a linked node only drops its ID-map entry; the tree keeps it.
    m_manager.AppendChild(inner, leaf, true);
    m_manager.DeleteNode(leaf);
    EXPECT_FALSE(m_manager.GetNodeByID(leaf->GetID()));
    EXPECT_EQ(inner->FrontChild(), leaf);
    EXPECT_EQ(leaf->GetFather(), inner);
    m_manager.DeleteNode(leaf);  // absent: nothing happens
    EXPECT_EQ(m_manager.GetNrRegisteredNodes(), 1u);

    // The ID map keeps an unlinked node alive; dropping the entry lets it die.
    CbWeakPointer<KaCTransformationNode> observer;
    {
        Inner transient = m_manager.CreateInnerNode();
        observer = CbSmartPointer<KaCTransformationNode>(transient);
    }
    EXPECT_TRUE(observer.Lock());
    m_manager.DeleteNode(observer.Lock());
    EXPECT_FALSE(observer.Lock());
}

TEST_F(ManagerTest, ConsistencyCheckFindsChildrenListedByAnotherFather) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    ASSERT_TRUE(m_manager.IsValid());
    // A copy of A lists A's children, whose father links still name A.
    Inner copy = CbCloneByName<KaCTransformationNodeInner>(*tree.inner(L"A"));
    ASSERT_TRUE(copy);
    m_manager.RegisterSubtree(copy);
    EXPECT_FALSE(m_manager.IsValid(copy));
    EXPECT_TRUE(m_manager.IsValid(tree["A"]));
    EXPECT_TRUE(m_manager.IsValid(tree["a1"]));
    EXPECT_FALSE(m_manager.IsValid());
    m_manager.DeleteNode(copy);
    EXPECT_TRUE(m_manager.IsValid());
}
