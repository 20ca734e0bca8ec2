#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/harbor/CbStreamWriteASCIIString.h"
#include "platform/tidewell/KaCDataManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;
using Manager = KaCTransformationNodeManager;

namespace {

// A manager bound to the application's data manager.
class MirrorTest : public TreeFixture {
protected:
    void SetUp() override {
        TreeFixture::SetUp();
        ASSERT_TRUE(m_manager.SetDataManager(m_data, m_data.GetRootNode()));
    }

    // True when the data father of `node` is `father`'s data node, and both are mirrored.
    bool mirroredBelow(const Node& node, const Node& father) {
        return m_manager.IsNodeInDataManager(node) &&
               node->GetParent() == CbSmartPointer<CyNode>(father);
    }

    // Appends `child` below the mirrored `father`, under write access to it.
    void appendLocked(const Inner& father, const Node& child) {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(father);
        m_manager.AppendChild(father, child, true);
    }

    KaCDataManager& m_data = KaCDataManager::GetInstance();
};

}  // namespace

TEST_F(MirrorTest, BindingRefusals) {
    CyDataManager other;
    auto foreign = CbMakeShared<CyNode>();
    EXPECT_TRUE(other.InsertNode(other.GetRootNode(), foreign));
    EXPECT_FALSE(m_manager.SetDataManager(other, foreign));  // bound already
    ASSERT_TRUE(m_manager.UnsetDataManager());
    EXPECT_FALSE(
        m_manager.SetDataManager(m_data, foreign));  // the parent belongs to another manager
    EXPECT_FALSE(m_manager.SetDataManager(m_data, nullptr));
    // None bound: no root can be made (leaving no root and no node registered) or set.
    EXPECT_THROW(m_manager.CreateRootNode(), CbException);
    EXPECT_FALSE(m_manager.GetRootNode());
    EXPECT_EQ(m_manager.GetNrRegisteredNodes(), 0u);
    EXPECT_THROW(m_manager.SetRootNode(m_manager.CreateInnerNode()), CbException);
    ASSERT_TRUE(m_manager.SetDataManager(m_data, m_data.GetRootNode()));

    Inner root = m_manager.CreateRootNode();
    EXPECT_EQ(root->GetDescription(), L"Root");
    EXPECT_EQ(m_manager.GetRootNode(), root);
    EXPECT_EQ(m_manager.GetNodeByID(root->GetID()), root);
    EXPECT_FALSE(m_manager.UnsetDataManager());                                     // a root is set
    EXPECT_THROW(m_manager.SetRootNode(m_manager.CreateInnerNode()), CbException);  // a root is set

    // A thread without write access cannot unset the root.
    std::thread([&] { m_manager.UnsetRootNode(); }).join();
    EXPECT_EQ(m_manager.GetRootNode(), root);
    EXPECT_FALSE(m_manager.UnsetDataManager());
}

TEST_F(MirrorTest, SetRootMirrorsAndRegistersTheWholeTree) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    for (const auto& [name, node] : tree.nodes) {
        m_manager.DeleteNode(node);
    }
    m_manager.SetRootNode(tree.root);
    for (const auto& [name, node] : tree.nodes) {
        EXPECT_TRUE(m_manager.IsNodeInDataManager(node));
        EXPECT_EQ(m_manager.GetNodeByID(node->GetID()), node);
    }
    EXPECT_EQ(tree.root->GetParent(), m_data.GetRootNode());
    EXPECT_TRUE(mirroredBelow(tree["a2"], tree["A"]));

    {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(tree.root);
        EXPECT_TRUE(m_manager.IsValid());
        m_manager.UnsetRootNode();
    }
    // Everything left the data manager and the ID map.
    EXPECT_FALSE(m_manager.GetRootNode());
    for (const auto& [name, node] : tree.nodes) {
        EXPECT_FALSE(m_manager.IsNodeInDataManager(node)) << std::string(name.begin(), name.end());
        EXPECT_FALSE(m_manager.GetNodeByID(node->GetID()));
    }
    EXPECT_EQ(tree.inner(L"A")->GetNrChildren(), 0u);
    EXPECT_FALSE(tree["a1"]->GetFather());
}

TEST_F(MirrorTest, EditsKeepTheMirrorInStep) {
    Inner root = m_manager.CreateRootNode();
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    NamedTree tree = BuildTree("S(A(a1,a2),B(b1))", m_random);
    EXPECT_FALSE(m_manager.IsNodeInDataManager(tree.root));

    m_manager.AppendChild(root, tree.root, true);
    EXPECT_TRUE(mirroredBelow(tree["a1"], tree["A"]));
    EXPECT_TRUE(m_manager.IsValid());

    // Move between mirrored fathers: by a move in the data manager.
    m_manager.MoveNode(tree.inner(L"B"), tree["a2"], nullptr);
    EXPECT_TRUE(mirroredBelow(tree["a2"], tree["B"]));
    EXPECT_TRUE(m_manager.IsValid());

    // Removal takes the subtree out of the data manager; the nodes stay registered.
    m_manager.RemoveChild(tree.root, tree["A"]);
    EXPECT_FALSE(m_manager.IsNodeInDataManager(tree["A"]));
    EXPECT_FALSE(m_manager.IsNodeInDataManager(tree["a1"]));
    EXPECT_EQ(m_manager.GetNodeByID(tree["a1"]->GetID()), tree["a1"]);
    EXPECT_TRUE(m_manager.IsValid());

    // Moving an unmirrored node below a mirrored father mirrors it.
    m_manager.MoveNode(tree.inner(L"B"), tree["A"], nullptr);
    EXPECT_TRUE(mirroredBelow(tree["a1"], tree["A"]));

    // Replace mirrors and registers the new subtree; exchange leaves the old one detached.
    NamedTree other = BuildTree("C(c1)", m_random);
    m_manager.ReplaceChild(tree.inner(L"B"), tree["A"], other.root);
    EXPECT_TRUE(mirroredBelow(other["c1"], other["C"]));
    EXPECT_FALSE(m_manager.GetNodeByID(tree["a1"]->GetID()));
    Leaf fresh = m_manager.CreateLeafNode(MakeModel(1));
    m_manager.ExchangeChild(tree.inner(L"B"), tree["b1"], fresh);
    EXPECT_TRUE(mirroredBelow(fresh, tree["B"]));
    EXPECT_FALSE(m_manager.IsNodeInDataManager(tree["b1"]));
    EXPECT_TRUE(m_manager.IsValid());
}

// A link that would make a node its own ancestor is refused before anything changes, in
// a mirrored tree and in a loose one alike.
TEST_F(MirrorTest, LinksThatWouldMakeACycleAreRefusedBeforeAnythingChanges) {
    Inner root = m_manager.CreateRootNode();
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    NamedTree mirrored = BuildTree("S(A(a1,B(b1)),C)", m_random);
    m_manager.AppendChild(root, mirrored.root, true);
    NamedTree loose = BuildTree("L(M(N(n1)))", m_random);
    Leaf spare = m_manager.CreateLeafNode(MakeModel(1));

    for (const NamedTree* tree : {&mirrored, &loose}) {
        const Inner top = tree->root;
        const Inner low = tree == &mirrored ? tree->inner(L"B") : tree->inner(L"N");
        const Inner middle = tree == &mirrored ? tree->inner(L"A") : tree->inner(L"M");
        std::vector<int64_t> revisions;
        for (const Inner& node : {top, middle, low}) {
            revisions.push_back(node->GetNodeRevision(KaCTransformationNode::eRevisionAll));
        }
        const auto fatherOf = [](const Node& node) { return node->GetFather(); };
        const std::vector<Inner> fathers = {fatherOf(top), fatherOf(middle), fatherOf(low)};

        EXPECT_THROW(m_manager.AppendChild(low, low, true), CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.AppendChild(low, top, true), CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.InsertChild(low, low->FrontChild(), middle),
                     CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.MoveNode(low, middle, nullptr), CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.MoveNode(low, low, nullptr), CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.ExchangeChild(low, low->FrontChild(), top),
                     CbExceptionPreconditionViolation);
        EXPECT_THROW(m_manager.ReplaceChild(middle, low, middle), CbExceptionPreconditionViolation);

        EXPECT_EQ((std::vector<Inner>{fatherOf(top), fatherOf(middle), fatherOf(low)}), fathers);
        EXPECT_EQ(low->GetNrChildren(), 1u);
        std::vector<int64_t> after;
        for (const Inner& node : {top, middle, low}) {
            after.push_back(node->GetNodeRevision(KaCTransformationNode::eRevisionAll));
        }
        EXPECT_EQ(after, revisions);
        // The walks still end, and a legal link still works.
        EXPECT_EQ(top->GetNrLeafNodes(), tree == &mirrored ? 3u : 1u);
        m_manager.AppendChild(low, spare, true);
        m_manager.RemoveChild(low, spare);
    }
    EXPECT_TRUE(mirroredBelow(mirrored["B"], mirrored["A"]));
    EXPECT_TRUE(m_manager.IsValid());
}

TEST_F(MirrorTest, UnmirroringAWideSubtreeLeavesBothTreesInStep) {
    Inner root = m_manager.CreateRootNode();
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    Leaf sibling = m_manager.CreateLeafNode(MakeModel(1));
    m_manager.AppendChild(root, sibling, true);
    Inner wide = m_manager.CreateInnerNode();
    std::vector<Inner> inners{wide};
    std::vector<Node> nodes{wide};
    for (int i = 0; i < 40; ++i) {
        Inner child = m_manager.CreateInnerNode();
        Leaf leaf = m_manager.CreateLeafNode(MakeModel(1));
        m_manager.AppendChild(child, leaf, true);
        m_manager.AppendChild(wide, child, true);
        inners.push_back(child);
        nodes.insert(nodes.end(), {child, leaf});
    }
    m_manager.AppendChild(root, wide, true);

    // The subtree leaves the data manager as a whole; its nodes stay registered.
    m_manager.RemoveChild(root, wide);
    for (const Node& node : nodes) {
        EXPECT_FALSE(m_manager.IsNodeInDataManager(node));
        EXPECT_FALSE(node->GetParent());
        EXPECT_EQ(m_manager.GetNodeByID(node->GetID()), node);
    }
    EXPECT_EQ(m_data.GetChildrenOf(*root), std::vector<CbSmartPointer<CyNode>>{sibling});
    EXPECT_TRUE(m_manager.IsValid());

    // Mirrored again, every data node has exactly its tree children, in their order: no
    // link of the old mirror survived.
    m_manager.AppendChild(root, wide, true);
    for (const Inner& inner : inners) {
        const auto& children = inner->GetChildren();
        EXPECT_EQ(m_data.GetChildrenOf(*inner),
                  std::vector<CbSmartPointer<CyNode>>(children.begin(), children.end()));
    }
    EXPECT_TRUE(m_manager.IsValid());

    // Unsetting the root takes out and unregisters everything.
    m_manager.UnsetRootNode();
    for (const Node& node : nodes) {
        EXPECT_FALSE(m_manager.IsNodeInDataManager(node));
        EXPECT_FALSE(m_manager.GetNodeByID(node->GetID()));
    }
    EXPECT_FALSE(m_manager.IsNodeInDataManager(sibling));
    const auto top = m_data.GetChildrenOf(*m_data.GetRootNode());
    EXPECT_EQ(std::find(top.begin(), top.end(), CbSmartPointer<CyNode>(root)), top.end());
}

TEST_F(MirrorTest, ConsistencyCheckComparesTheMirrorWithTheTree) {
    Inner root = m_manager.CreateRootNode();
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    NamedTree tree = BuildTree("S(A(a1,a2),B(b1))", m_random);
    m_manager.AppendChild(root, tree.root, true);
    ASSERT_TRUE(m_manager.IsValid());
    // a1's data node moved below B behind the node manager's back.
    Manager::WriteHandle handle = m_manager.GetWriteHandle(tree["a1"]);
    ASSERT_TRUE(m_data.MoveNode(handle, tree["B"]));
    EXPECT_FALSE(m_manager.IsValid(tree["a1"]));  // seen from the child
    EXPECT_FALSE(m_manager.IsValid(tree["A"]));   // seen from the father
    EXPECT_TRUE(m_manager.IsValid(tree["a2"]));
    EXPECT_FALSE(m_manager.IsValid());
    ASSERT_TRUE(m_data.MoveNode(handle, tree["A"]));
    EXPECT_TRUE(m_manager.IsValid());
}

TEST_F(MirrorTest, HandlesAndAccessQueries) {
    Inner root = m_manager.CreateRootNode();
    Inner child = m_manager.CreateInnerNode();
    Inner loose = m_manager.CreateInnerNode();
    {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
        m_manager.AppendChild(root, child, true);
        EXPECT_TRUE(m_manager.IsWriteLocked(child));
        EXPECT_TRUE(m_manager.IsReadLocked(child));
    }
    EXPECT_FALSE(m_manager.GetReadHandle(loose).IsValid());
    EXPECT_FALSE(m_manager.IsReadLocked(loose));
    EXPECT_TRUE(m_manager.IsNotManagedOrReadLocked(loose));
    EXPECT_TRUE(m_manager.IsNotManagedOrWriteLocked(nullptr));
    EXPECT_FALSE(m_manager.IsReadLocked(child));
    EXPECT_FALSE(m_manager.IsNotManagedOrReadLocked(child));

    // GetHandle takes tree nodes given as data nodes, and leaves anything else alone.
    CyDataHandleLockOnly<0> handle;
    m_manager.GetHandle(CbSmartPointer<const CyNode>(m_data.GetRootNode()), handle);
    EXPECT_FALSE(handle.IsValid());
    m_manager.GetHandle(CbSmartPointer<const CyNode>(child), handle);
    EXPECT_EQ(handle.GetNode(), CbSmartPointer<CyNode>(child));

    // A read lock of the root covers its subtree; IsValid needs it for every node.
    EXPECT_FALSE(m_manager.IsValid(root));
    handle = CyDataHandleLockOnly<0>();
    Manager::ReadHandle read = m_manager.GetSingleReadHandleLocked(root);
    EXPECT_TRUE(m_manager.IsReadLocked(child));
    EXPECT_FALSE(m_manager.IsWriteLocked(child));
    EXPECT_TRUE(m_manager.IsValid(root));
    EXPECT_TRUE(m_manager.IsValid());
}

namespace {

// What a helper of the application does with a node it is handed: it takes its own
// handles, not knowing that its caller may hold access already.
void renameScansBelow(KaCTransformationNodeManager& manager, const Inner& cluster,
                      const std::wstring& prefix) {
    Manager::WriteHandle access = manager.GetSingleWriteHandleLocked(cluster);
    for (auto it = cluster->BeginLeaf(); it; ++it) {
        Manager::ReadHandle read = manager.GetSingleReadHandleLocked(it.GetCurrentNode());
        it.GetCurrentNode()->SetDescription(prefix + it.GetCurrentNode()->GetDescription());
    }
}

}  // namespace

// Access a thread holds covers the handles it asks for below: they are granted as they are
// made, and the grant calls succeed instead of reporting that there is nothing to lock.
TEST_F(MirrorTest, HeldAccessCoversNestedHandles) {
    LogCapture log(1);
    Inner root = m_manager.CreateRootNode();
    NamedTree tree = BuildTree("S(A(a1,a2),B(b1))", m_random);
    appendLocked(root, tree.root);
    {
        Manager::WriteHandle writer = m_manager.GetSingleWriteHandleLocked(root);
        renameScansBelow(m_manager, tree.inner(L"A"), L"scan ");
        EXPECT_EQ(tree["a2"]->GetDescription(), L"scan a2");

        Manager::ReadHandle read = m_manager.GetReadHandle(tree["b1"]);
        Manager::WriteHandle write = m_manager.GetWriteHandle(tree["B"]);
        EXPECT_TRUE(read.IsGranted());
        EXPECT_TRUE(write.IsGranted());
        EXPECT_NO_THROW(m_manager.Lock());

        // An unmirrored node still has nothing to lock, whatever else the thread holds.
        Inner loose = m_manager.CreateInnerNode();
        loose->SetDescription(L"Loose");
        EXPECT_THROW(m_manager.GetSingleWriteHandleLocked(loose), CbException);
        EXPECT_EQ(log.LinesContaining("getSingleHandleLocked<Write>(Loose) NoData.").size(), 1u);
    }
    {
        // Read access covers reads below, not writes.
        Manager::ReadHandle reader = m_manager.GetSingleReadHandleLocked(root);
        EXPECT_TRUE(m_manager.GetSingleReadHandleLocked(tree["a1"]).IsGranted());
        EXPECT_THROW(m_manager.GetSingleWriteHandleLocked(tree["a1"]), CbException);
        EXPECT_EQ(log.LinesContaining("NotAllLocksReleased").size(), 1u);
        EXPECT_TRUE(m_manager.IsValid());
    }
}

TEST_F(MirrorTest, LockFailuresAreLoggedAndThrown) {
    LogCapture log(1);
    Inner root = m_manager.CreateRootNode();
    Inner loose = m_manager.CreateInnerNode();
    loose->SetDescription(L"Loose");
    EXPECT_THROW(m_manager.Lock(), CbException);
    auto cause = log.LinesContaining("Cause: No locking queries defined!");
    ASSERT_EQ(cause.size(), 1u);
    EXPECT_NE(cause[0].find("KaCTransformationNodeManager::Lock"), std::string::npos);

    // An unmirrored node makes no request: the data manager answers "no requests".
    EXPECT_THROW(m_manager.GetSingleWriteHandleLocked(loose), CbException);
    EXPECT_EQ(log.LinesContaining("getSingleHandleLocked<Write>(Loose) NoData.").size(), 1u);
    EXPECT_THROW(m_manager.GetSingleReadHandleLocked(nullptr), CbException);
    EXPECT_EQ(log.LinesContaining("getSingleHandleLocked<Read>(nullptr) NoData.").size(), 1u);

    // Holding access and asking for more.
    Inner other = m_manager.CreateInnerNode();
    Inner second = m_manager.CreateInnerNode();
    appendLocked(root, other);
    appendLocked(root, second);
    Manager::ReadHandle read = m_manager.GetSingleReadHandleLocked(other);
    second->SetDescription(L"Second");
    EXPECT_THROW(m_manager.GetSingleWriteHandleLocked(second), CbException);
    EXPECT_EQ(
        log.LinesContaining("getSingleHandleLocked<Write>(Second) NotAllLocksReleased.").size(),
        1u);
}

TEST_F(MirrorTest, SingleHandleRetriesTimeoutsAndReportsTheWait) {
    Inner root = m_manager.CreateRootNode();
    Inner child = m_manager.CreateInnerNode();
    child->SetDescription(L"Child");
    appendLocked(root, child);
    LogCapture log(1);
    std::atomic<bool> holding{false};
    std::thread writer([&] {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
        holding = true;
        // Hold the access until the reader has timed out twice.
        while (log.LinesContaining("100ms Timeout, retrying.").size() < 2) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    while (!holding) {
        std::this_thread::yield();
    }
    Manager::ReadHandle read = m_manager.GetSingleReadHandleLocked(child);
    writer.join();
    EXPECT_TRUE(read.IsGranted());
    EXPECT_EQ(
        log.LinesContaining("getSingleHandleLocked<Read>(Child) 100ms Timeout, retrying.").size(),
        2u);
    auto waited = log.LinesContaining("getSingleHandleLocked<Read>(Child) waited for 200ms.");
    EXPECT_EQ(waited.size(), 1u);
}

TEST_F(MirrorTest, IdMapListingAtDebugLevel) {
    LogCapture log(1);
    Inner root = m_manager.CreateInnerNode();
    root->SetDescription(L"Wurzel \u00e4");
    m_manager.SetRootNode(root);
    auto lines = log.Lines();
    auto find = [&](const std::string& text, int from) {
        for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
            if (lines[i].find(text) != std::string::npos) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    const std::wstring id = root->GetID().ToString();
    const std::string entry =
        "id " + std::string(id.begin(), id.end()) + " -> description Wurzel \xc3\xa4";
    int enter = find("Start ID Map: SetRootNode enter", 0);
    ASSERT_GE(enter, 0);
    int exit = find("Start ID Map: SetRootNode exit", enter);
    ASSERT_GT(exit, enter);
    int listed = find(entry, exit);
    EXPECT_GT(listed, exit);
    EXPECT_GT(find("End ID Map: SetRootNode exit", exit), listed);
}

TEST_F(ManagerTest, ConsistencyOfUnmirroredTreesAndTheDump) {
    EXPECT_TRUE(m_manager.IsValid());
    Inner lone = m_manager.CreateInnerNode();
    EXPECT_TRUE(m_manager.IsValid(lone));

    NamedTree tree = BuildTree("Root(A(b),c)", m_random);
    EXPECT_TRUE(m_manager.IsValid());
    m_manager.DeleteNode(tree["b"]);
    EXPECT_FALSE(m_manager.IsValid(tree["b"]));
    EXPECT_FALSE(m_manager.IsValid(tree["A"]));
    EXPECT_FALSE(m_manager.IsValid());
    m_manager.RemoveChild(tree.inner(L"A"), tree["b"]);
    EXPECT_TRUE(m_manager.IsValid());

    KaCDataManager& data = KaCDataManager::GetInstance();
    ASSERT_TRUE(m_manager.SetDataManager(data, data.GetRootNode()));
    m_manager.SetRootNode(tree.root);
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(tree.root);
    m_manager.AppendChild(tree.inner(L"A"), tree["b"], true);
    CbStreamWriteASCIIString text;
    m_manager.dump(text);
    EXPECT_EQ(text.GetString(),
              "\n--------------------------------------------------------------------\n"
              "KaCTransformationNodeManager:\n\nRoot\n A\n  b[leaf]\n c[leaf]\n");
}
