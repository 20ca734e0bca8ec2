#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <set>

#include "platform/courier/KaCMessageSurfelCollectionModified.h"
#include "platform/courier/KaCMessageTransformationChanged.h"
#include "platform/courier/KaCMessageTreeStructureModified.h"
#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "platform/tidewell/KaCDataManager.h"
#include "tests/support/MessageRecorder.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/attributes/KaCAreaPropertiesAttribute.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCJawSemanticsAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"

using namespace TreeTestSupport;
using Utility = KaCTransformationTreeUtility;
using Structure = KaCMessageTreeStructureModified;

namespace {

// A posted tree-structure message as (type, node, father).
struct Posted {
    int type;
    const CyNode* node;
    const CyNode* father;
    bool operator==(const Posted&) const = default;
};

std::vector<Posted> structureMessages(MessageRecorder& recorder) {
    std::vector<Posted> posted;
    for (const MessageRecorder::Entry& entry : recorder.Take()) {
        auto message = CbDynamicCast<const Structure>(entry.message);
        EXPECT_TRUE(message) << "not a tree-structure message";
        if (message) {
            posted.push_back({message->GetModificationType(), message->GetNode().Get(),
                              message->GetFather().Get()});
        }
    }
    return posted;
}

Posted posted(int type, const Node& node, const Node& father) {
    return {type, node.Get(), father.Get()};
}

// Each leaf's transformation to `top`, by leaf (the leaves themselves, or their copies'
// models, identify them).
std::map<const KaCModelCCT*, CbMatrix4Rd> placesByModel(const Inner& top) {
    std::map<const KaCModelCCT*, CbMatrix4Rd> places;
    for (auto it = top->BeginLeaf(); it; ++it) {
        places[it.GetCurrentNode()->GetModel().Get()] = it.GetCurrentTrafo();
    }
    return places;
}

std::vector<const KaCModelCCT*> leafModels(const Inner& top) {
    std::vector<const KaCModelCCT*> models;
    for (auto it = top->BeginLeaf(); it; ++it) {
        models.push_back(it.GetCurrentNode()->GetModel().Get());
    }
    return models;
}

// The registered nodes are exactly the nodes of the given trees.
void expectRegisteredExactly(const std::vector<Inner>& roots) {
    std::set<const KaCTransformationNode*> inTrees;
    for (const Inner& root : roots) {
        for (auto it = root->BeginNode(); it; ++it) {
            inTrees.insert(it.GetCurrentNode());
        }
    }
    std::set<const KaCTransformationNode*> registered;
    for (const Node& node : Manager().GetRegisteredNodes()) {
        registered.insert(node.Get());
    }
    EXPECT_EQ(registered, inTrees);
}

}  // namespace

TEST_F(OrganisationTest, CopiesCreateAndReplaceLeaves) {
    NamedTree tree = BuildTree("R(A(a1,a2),b)", m_random);
    MessageRecorder recorder;
    Utility& utility = Utility::GetInstance();
    Utility::CopyToSourceMap copies;
    Node copy =
        utility.CopySubtree(tree.root, KaCTransformationNode::eAttributesAndModel, &copies, false);
    EXPECT_EQ(copies.GetCount(), 5u);
    auto it = copy->BeginNode();
    for (auto source = tree.root->BeginNode(); source; ++source, ++it) {
        ASSERT_TRUE(it);
        const KaCTransformationNode& a = *source.GetCurrentNode();
        const KaCTransformationNode& b = *it.GetCurrentNode();
        EXPECT_NE(&a, &b);
        EXPECT_EQ(b.GetDescription(), a.GetDescription());
        EXPECT_EQ(b.GetRelativeTrafo(), a.GetRelativeTrafo());
        EXPECT_EQ(b.GetModel(), a.GetModel());  // shared
        EXPECT_EQ(*copies.Find(CbSmartPointer<const KaCTransformationNode>(&b)),
                  source.GetCurrentNode());
        EXPECT_EQ(Manager().GetNodeByID(b.GetID()).Get(), &b);
    }
    EXPECT_FALSE(copy->GetFather());
    Node cloned =
        utility.CopySubtree(tree["a1"], KaCTransformationNode::eAttributesOnly, nullptr, true);
    ASSERT_TRUE(cloned->GetModel());
    EXPECT_NE(cloned->GetModel(), tree["a1"]->GetModel());
    EXPECT_TRUE(cloned->GetModel()->Is(tree["a1"]->GetModel()->GetRTTI()));

    // A leaf for a new scan: message first, then linked.
    CbSmartPointer<KaCModelCCT> model = MakeModel(2);
    model->SetFilename(L"scan-7");
    CbMatrix4Rd pose = RandomRigid(m_random);
    Leaf created = utility.CreateLeaf(tree.inner(L"A"), model, &pose);
    EXPECT_EQ(created->GetDescription(), L"scan-7");
    EXPECT_EQ(created->GetRelativeTrafo(), pose);
    EXPECT_EQ(tree.inner(L"A")->BackChild(), created);
    auto entries = recorder.Take();
    ASSERT_EQ(entries.size(), 1u);
    auto changed = CbDynamicCast<const KaCMessageTransformationChanged>(entries[0].message);
    ASSERT_TRUE(changed);
    EXPECT_EQ(changed->GetNode(), CbSmartPointer<CyNode>(created));
    EXPECT_EQ(changed->GetTrafo(), CbMatrix4Rf(pose));
    EXPECT_FALSE(utility.CreateLeaf(tree.inner(L"A"), nullptr, &pose));
    Leaf loose = utility.CreateLeaf(nullptr, model, &pose);
    EXPECT_FALSE(loose->GetFather());
    EXPECT_EQ(recorder.Take().size(), 1u);

    // Replacing keeps the place and the state, drops the old leaf from the ID map.
    tree.leaf(L"a1")->IsKeyframe(true);
    Leaf replaced = utility.CreateLeafAndReplace(tree.leaf(L"a1"), MakeModel(3));
    EXPECT_EQ(tree.inner(L"A")->FrontChild(), replaced);
    EXPECT_EQ(replaced->GetDescription(), L"a1");
    EXPECT_EQ(replaced->GetRelativeTrafo(), tree["a1"]->GetRelativeTrafo());
    EXPECT_FALSE(replaced->IsKeyframe());
    EXPECT_FALSE(tree["a1"]->GetFather());
    EXPECT_FALSE(Manager().GetNodeByID(tree["a1"]->GetID()));
    Leaf unlinked = utility.CreateLeafAndReplace(loose, MakeModel(1));
    EXPECT_FALSE(unlinked->GetFather());
    EXPECT_FALSE(Manager().GetNodeByID(loose->GetID()));
    EXPECT_TRUE(recorder.Take().empty());
}

TEST_F(OrganisationTest, RemovalPostsEveryNodeAfterItsDescendants) {
    NamedTree tree = BuildTree("R(A(a1,B(b1,b2)),c)", m_random);
    MessageRecorder recorder;
    Utility& utility = Utility::GetInstance();
    utility.RemoveSubtree(tree["A"], true);
    std::vector<Posted> expected{posted(2, tree["a1"], tree["A"]), posted(2, tree["b1"], tree["B"]),
                                 posted(2, tree["b2"], tree["B"]), posted(2, tree["B"], tree["A"]),
                                 posted(2, tree["A"], tree.root)};
    EXPECT_EQ(structureMessages(recorder), expected);
    expectRegisteredExactly({tree.root});

    // RemoveChildren leaves the node's attributes; ClearAndRemoveChildren resets them.
    NamedTree other = BuildTree("S(s1,s2)", m_random);
    utility.RemoveChildren(other.root, false);
    EXPECT_EQ(other.root->GetNrChildren(), 0u);
    EXPECT_TRUE(recorder.Take().empty());
    utility.RemoveSubtree(nullptr, true);
    utility.RemoveSubtree(other.root, true);
    EXPECT_EQ(structureMessages(recorder), (std::vector<Posted>{posted(2, other.root, nullptr)}));
}

TEST_F(OrganisationTest, CollapseKeepsPlacesAndOrdersByAcquisition) {
    NamedTree tree = BuildTree("R(x,A(a1,B(b1)),y)", m_random);
    // Acquisition order b1, x, a1, y; x and y hang directly below R already.
    int order = 0;
    for (const char* name : {"b1", "x", "a1", "y"}) {
        tree.leaf(std::wstring(name, name + std::char_traits<char>::length(name)))
            ->RenewModel(
                MakeModel(2, static_cast<uint32_t>(order + 1), static_cast<uint64_t>(order + 1)));
        ++order;
    }
    MessageRecorder recorder;
    Utility::GetInstance().CollapseAll(tree.root, true);
    std::vector<std::wstring> children;
    for (auto it = tree.root->BeginChild(); it != tree.root->EndChild(); ++it) {
        children.push_back((*it)->GetDescription());
    }
    // Leaves already below R stay where they are; the others follow in acquisition order
    // (keeping their places: see RestructuringRandomTreesKeepsEveryScanInPlace).
    EXPECT_EQ(children, (std::vector<std::wstring>{L"x", L"y", L"b1", L"a1"}));
    std::vector<Posted> expected{posted(3, tree["b1"], tree.root), posted(3, tree["x"], tree.root),
                                 posted(3, tree["a1"], tree.root), posted(3, tree["y"], tree.root),
                                 posted(2, tree["B"], tree["A"]),  posted(2, tree["A"], tree.root),
                                 posted(2, tree["B"], nullptr)};
    EXPECT_EQ(structureMessages(recorder), expected);
    expectRegisteredExactly({tree.root});
}

TEST_F(OrganisationTest, MergeMovesChildrenAndDropsTheModel) {
    NamedTree tree = BuildTree("R(S(s1,s2),T(t1))", m_random);
    Inner S = tree.inner(L"S");
    Inner T = tree.inner(L"T");
    CbSmartPointer<KaCModelCCT> model = MakeModel(1);
    T->SetModel(model, 3);
    const CbMatrix4Rd M = RandomAffine(m_random);
    const CbMatrix4Rd s1 = tree["s1"]->GetRelativeTrafo();
    MessageRecorder recorder;
    Utility::GetInstance().MergeInnerNodes(S, T, M, true);
    ASSERT_EQ(T->GetNrChildren(), 3u);
    EXPECT_EQ(*(T->BeginChild() + 1), tree["s1"]);
    EXPECT_EQ(tree["s1"]->GetRelativeTrafo(), s1 * M);
    EXPECT_FALSE(T->GetModel());
    EXPECT_FALSE(Manager().GetNodeByID(S->GetID()));
    EXPECT_EQ(tree.root->GetNrChildren(), 1u);
    auto entries = recorder.Take();
    ASSERT_EQ(entries.size(), 4u);
    auto surfels = CbDynamicCast<const KaCMessageSurfelCollectionModified>(entries[3].message);
    ASSERT_TRUE(surfels);
    EXPECT_EQ(surfels->GetId(), model->GetId());
    EXPECT_EQ(surfels->GetModificationType(), 1);

    // Leaves, empty subtrees and nodes of which one is mirrored are left alone.
    Inner empty = m_manager.CreateInnerNode();
    Utility::GetInstance().MergeInnerNodes(empty, T, M, true);
    Utility::GetInstance().MergeInnerNodes(T, empty, M, true);
    Utility::GetInstance().MergeInnerNodes(nullptr, T, M, true);
    EXPECT_EQ(T->GetNrChildren(), 3u);
    EXPECT_TRUE(recorder.Take().empty());

    // Merging into the source itself or into its subtree would never end: refused unchanged.
    Inner below = m_manager.CreateInnerNode();
    m_manager.AppendChild(below, m_manager.CreateLeafNode(MakeModel(1)), true);
    m_manager.AppendChild(T, below, true);
    for (const Inner& target : {T, below}) {
        EXPECT_THROW(Utility::GetInstance().MergeInnerNodes(T, target, M, true),
                     CbExceptionPreconditionViolation);
    }
    EXPECT_EQ(T->GetNrChildren(), 4u);
    EXPECT_EQ(below->GetNrChildren(), 1u);
    EXPECT_TRUE(recorder.Take().empty());

    // The other restructuring operations need a node.
    Utility& utility = Utility::GetInstance();
    Inner none;
    EXPECT_THROW(utility.RemoveChildren(none, true), CbExceptionPreconditionViolation);
    EXPECT_THROW(utility.ClearAndRemoveChildren(none, true), CbExceptionPreconditionViolation);
    EXPECT_THROW(utility.CollapseAll(none, true), CbExceptionPreconditionViolation);
    EXPECT_THROW(utility.NormalizeTreeStructure(none, 2, true), CbExceptionPreconditionViolation);
    EXPECT_THROW(utility.PrepareForNextChild(none, 2, T), CbExceptionPreconditionViolation);
}

TEST_F(OrganisationTest, NormalizeFiveLeavesIntoPairs) {
    // Leaves keep their order and places (see RestructuringRandomTreesKeepsEveryScanInPlace).
    NamedTree tree = BuildTree("R(N(l1,l2,l3,l4,l5))", m_random);
    Inner N = tree.inner(L"N");
    EXPECT_THROW(Utility::GetInstance().NormalizeTreeStructure(N, 1, false), CbException);
    Utility::GetInstance().NormalizeTreeStructure(N, 2, false);

    // N(ClusterDummy(ClusterDummy(l1,l2), Inner(l3,l4)), Inner(Inner(l5)))
    std::function<std::wstring(const Node&)> shape = [&](const Node& node) {
        if (node->IsLeaf()) {
            return std::wstring(L"l");
        }
        std::wstring text = node->GetDescription() + L"(";
        auto inner = CbStaticCast<KaCTransformationNodeInner>(node);
        for (auto it = inner->BeginChild(); it != inner->EndChild(); ++it) {
            text += (it == inner->BeginChild() ? L"" : L",") + shape(*it);
        }
        return text + L")";
    };
    EXPECT_EQ(shape(N), L"N(ClusterDummy(ClusterDummy(l,l),Inner(l,l)),Inner(Inner(l)))");

    // Three leaves and room for four: three leaf children.
    NamedTree small = BuildTree("S(a,B(b,c))", m_random);
    Utility::GetInstance().NormalizeTreeStructure(small.root, 4, false);
    EXPECT_EQ(shape(small.root), L"S(l,l,l)");
}

// Attributes of classes without a clone function are shared by a leaf and its copy: the old
// leaf gives them up to the copy, so removing it resets its own objects, not the copy's.
TEST_F(OrganisationTest, NormalizeKeepsTheValuesOfAttributesWithoutCloneFunction) {
    NamedTree tree = BuildTree("R(N(l1,l2,l3))", m_random);
    Leaf l2 = tree.leaf(L"l2");
    auto area = CbMakeShared<KaCImageAreaDataAttribute>();
    area->SetCorrelationError(0.25f);
    area->SetLastGUIDState(L"state");
    auto properties = CbMakeShared<KaCAreaPropertiesAttribute>();
    properties->SetOrientationStrategy(KaCAreaPropertiesAttribute::eOrientationStrategyManual);
    auto effort = CbMakeShared<KaCRegistrationEffortLoggingAttribute>();
    effort->SetMaxNewtonError(1.5);
    effort->AddSubTaskDuration(L"icp", 2.0);
    auto jaw = CbMakeShared<KaCJawSemanticsAttribute>();
    jaw->SetOcclusalDirectionBinningRevision(77);
    for (CbSmartPointer<KaARTTIAttribute> attribute :
         {CbSmartPointer<KaARTTIAttribute>(area), CbSmartPointer<KaARTTIAttribute>(properties),
          CbSmartPointer<KaARTTIAttribute>(effort), CbSmartPointer<KaARTTIAttribute>(jaw)}) {
        l2->SetAttribute(attribute);
    }

    Utility::GetInstance().NormalizeTreeStructure(tree.inner(L"N"), 2, false);
    Leaf copy;
    for (auto it = tree.inner(L"N")->BeginLeaf(); it; ++it) {
        if (it.GetCurrentNode()->GetDescription() == L"l2") {
            copy = CbStaticCast<KaCTransformationNodeLeaf>(Node(it.GetCurrentNode()));
        }
    }
    ASSERT_TRUE(copy);
    ASSERT_NE(copy, l2);
    const KaARTTIAttributeContainer& attributes = copy->GetAllAttributes();
    auto areaCopy = attributes.GetAttribute<KaCImageAreaDataAttribute>();
    ASSERT_TRUE(areaCopy);
    EXPECT_EQ(areaCopy->GetCorrelationError(), 0.25f);
    EXPECT_EQ(areaCopy->GetLastGUIDState(), L"state");
    EXPECT_EQ(l2->GetAllAttributes().GetCount(), 0u);
    auto propertiesCopy = attributes.GetAttribute<KaCAreaPropertiesAttribute>();
    ASSERT_TRUE(propertiesCopy);
    EXPECT_EQ(propertiesCopy->GetOrientationStrategy(),
              KaCAreaPropertiesAttribute::eOrientationStrategyManual);
    auto effortCopy = attributes.GetAttribute<KaCRegistrationEffortLoggingAttribute>();
    ASSERT_TRUE(effortCopy);
    EXPECT_EQ(effortCopy->GetMaxNewtonError(), 1.5);
    const CbMap<std::wstring, double> durations = effortCopy->GetSubTaskDurationLog();
    const double* icp = durations.Find(L"icp");
    EXPECT_TRUE(icp != nullptr && *icp == 2.0);
    auto jawCopy = attributes.GetAttribute<KaCJawSemanticsAttribute>();
    ASSERT_TRUE(jawCopy);
    EXPECT_EQ(jawCopy->GetOcclusalDirectionBinningRevision(), 77);
}

TEST_F(OrganisationTest, RestructuringRandomTreesKeepsEveryScanInPlace) {
    for (int round = 0; round < 12; ++round) {
        Inner root = BuildRandomTree(m_random, 20 + round * 10);
        auto before = placesByModel(root);
        auto order = leafModels(root);
        if (round % 2 == 0) {
            const int k = 2 + round % 5;
            Utility::GetInstance().NormalizeTreeStructure(root, k, false);
            EXPECT_EQ(leafModels(root), order);
            for (auto it = root->BeginInner(); it; ++it) {
                auto inner = static_cast<KaCTransformationNodeInner*>(it.GetCurrentNode());
                EXPECT_LE(inner->GetNrChildren(), static_cast<uint64_t>(k));
            }
        } else {
            // Leaves that already hang below the root keep their places; the others follow
            // in acquisition order (sequence number, then ID).
            std::vector<Node> expected;
            std::vector<Node> moved;
            for (auto it = root->BeginLeaf(); it; ++it) {
                (it.GetFather() == root ? expected : moved).push_back(it.GetCurrentNode());
            }
            std::stable_sort(moved.begin(), moved.end(), [](const Node& a, const Node& b) {
                const uint64_t sa = a->GetModel()->GetAcquireSequenceNumber();
                const uint64_t sb = b->GetModel()->GetAcquireSequenceNumber();
                return sa != sb ? sa < sb : a->GetID() < b->GetID();
            });
            expected.insert(expected.end(), moved.begin(), moved.end());
            Utility::GetInstance().CollapseAll(root, false);
            EXPECT_EQ(std::vector<Node>(root->BeginChild(), root->EndChild()), expected);
        }
        auto after = placesByModel(root);
        ASSERT_EQ(after.size(), before.size());
        for (const auto& [model, trafo] : after) {
            EXPECT_TRUE(Near(before.at(model), trafo, 1e-9)) << "round " << round;
        }
        expectRegisteredExactly({root});
        Utility::GetInstance().RemoveSubtree(root, false);
    }
}

TEST_F(OrganisationTest, PrepareForNextChildGrowsAndPosts) {
    Inner model = m_manager.CreateInnerNode();
    Inner top = m_manager.CreateInnerNode();
    top->SetDescription(L"Top");
    m_manager.AppendChild(model, top, true);
    MessageRecorder recorder;
    Utility& utility = Utility::GetInstance();
    EXPECT_EQ(utility.PrepareForNextChild(top, 2, top), top);
    EXPECT_TRUE(recorder.Take().empty());
    m_manager.AppendChild(top, m_manager.CreateInnerNode(), true);
    m_manager.AppendChild(top, m_manager.CreateInnerNode(), true);

    Inner oldTop = top;
    Inner next = utility.PrepareForNextChild(top, 2, top);
    EXPECT_NE(top, oldTop);
    EXPECT_EQ(top->GetDescription(), L"Top");
    EXPECT_EQ(model->FrontChild(), top);
    EXPECT_EQ(next->GetDescription(), L"Inner");
    EXPECT_EQ(next->GetFather(), top);
    EXPECT_EQ(structureMessages(recorder),
              (std::vector<Posted>{posted(3, oldTop, top), posted(1, next, top)}));

    // A full top without father cannot grow.
    Inner lone = m_manager.CreateInnerNode();
    m_manager.AppendChild(lone, m_manager.CreateInnerNode(), true);
    m_manager.AppendChild(lone, m_manager.CreateInnerNode(), true);
    Inner loneTop = lone;
    EXPECT_FALSE(utility.PrepareForNextChild(lone, 2, loneTop));
    EXPECT_THROW(utility.PrepareForNextChild(lone, 1, loneTop), CbException);
}

TEST_F(OrganisationTest, ClustersOfASession) {
    Inner root = m_manager.CreateInnerNode();
    auto tree = CbMakeShared<KaCSessionTransformationTree>(root);
    MessageRecorder recorder;
    Inner first = tree->NewCluster(true);
    EXPECT_EQ(first->GetDescription(), L"Cluster 0");
    Inner optimizer = KaCTransformationTree::GetOptimizerNode(first);
    Inner collector = KaCTransformationTree::GetCollectorNode(first);
    Inner clipboard = KaCTransformationTree::GetClipboardNode(first);
    EXPECT_EQ(optimizer->GetDescription(), L"Optimizer");
    EXPECT_EQ(collector->GetDescription(), L"Collector");
    EXPECT_EQ(clipboard->GetDescription(), L"Clipboard");
    EXPECT_EQ(structureMessages(recorder),
              (std::vector<Posted>{posted(4, first, root), posted(6, first, root),
                                   posted(1, optimizer, first), posted(1, collector, first),
                                   posted(1, clipboard, first)}));
    EXPECT_EQ(tree->GetReferenceCluster(), first);
    EXPECT_EQ(tree->GetActiveCluster(), first);

    Inner second = tree->NewCluster(false);
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(second->GetDescription(), L"Cluster 1");
    EXPECT_EQ(tree->GetActiveCluster(), second);
    EXPECT_EQ(tree->GetReferenceCluster(), first);
    EXPECT_EQ(tree->GetClusterCount(), 2u);
    tree->RemoveCluster(second);
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(tree->NewCluster(false)->GetDescription(), L"Cluster 2");  // numbers are not reused

    // Clusters are recognised by their layout.
    auto candidate = [&](std::initializer_list<const wchar_t*> parts) {
        Inner node = m_manager.CreateInnerNode();
        m_manager.AppendChild(root, node, true);
        for (const wchar_t* name : parts) {
            Inner part = m_manager.CreateInnerNode();
            part->SetDescription(name);
            m_manager.AppendChild(node, part, true);
        }
        return node;
    };
    candidate({L"Optimizer of mine", L"x", L"y"});
    Inner two = candidate({L"Optimizer", L"x"});
    candidate({L"Optimize", L"x", L"y"});
    CbList<Inner> clusters;
    tree->GetClusterNodes(root, clusters);
    EXPECT_EQ(clusters.GetCount(), 3u);  // Cluster 0, Cluster 2 and "Optimizer of mine"
    EXPECT_FALSE(KaCTransformationTree::GetClipboardNode(two));
    EXPECT_FALSE(KaCTransformationTree::GetOptimizerNode(nullptr));
    EXPECT_EQ(tree->GetExtension("anything", false), nullptr);
    EXPECT_THROW(tree->GetExtension("anything", true), CbException);
}

TEST_F(OrganisationTest, RestructuringAMirroredTreeKeepsItValid) {
    KaCDataManager& data = KaCDataManager::GetInstance();
    ASSERT_TRUE(m_manager.SetDataManager(data, data.GetRootNode()));
    Inner root = m_manager.CreateRootNode();
    KaCTransformationNodeManager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    auto tree = CbMakeShared<KaCSessionTransformationTree>(root);
    Utility& utility = Utility::GetInstance();
    for (int c = 0; c < 3; ++c) {
        Inner collector = KaCTransformationTree::GetCollectorNode(tree->NewCluster(true));
        for (int i = 0; i < 7; ++i) {
            CbMatrix4Rd pose = RandomRigid(m_random);
            utility.CreateLeaf(collector, MakeModel(2, static_cast<uint32_t>(10 * c + i)), &pose);
        }
    }
    EXPECT_TRUE(m_manager.IsValid());
    CbList<Inner> clusters;
    tree->GetClusterNodes(root, clusters);
    ASSERT_EQ(clusters.GetCount(), 3u);
    Inner first = KaCTransformationTree::GetCollectorNode(clusters.GetHead());
    Inner last = KaCTransformationTree::GetCollectorNode(clusters.GetTail());
    utility.NormalizeTreeStructure(first, 3, true);
    EXPECT_TRUE(m_manager.IsValid());
    utility.MergeInnerNodes(last, first, RandomRigid(m_random), true);
    EXPECT_TRUE(m_manager.IsValid());
    utility.CollapseAll(root, true);
    EXPECT_TRUE(m_manager.IsValid());
    EXPECT_EQ(root->GetNrLeafNodes(), 21u);
    EXPECT_EQ(root->GetNrChildren(), 21u);
    NamedTree scratch = BuildTree("S(s1)", m_random);
    utility.MergeInnerNodes(scratch.root, root, c_matIdentityD, true);  // one mirrored: nothing
    EXPECT_EQ(scratch.root->GetNrChildren(), 1u);
    EXPECT_TRUE(m_manager.IsValid());
}
