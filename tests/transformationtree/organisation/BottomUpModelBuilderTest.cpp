#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/harbor/CbExceptionPreconditionViolation.h"
#include "tests/transformationtree/organisation/BottomUpModelBuilderSupport.h"
#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"

using namespace bottomuptest;
using TreeTestSupport::OrganisationTest;

namespace {

using AttributeSet = KaCSurfelContainer::ESurfelAttributeSet;

struct Build {
    bool type4;
    float cellSize;
    float parameter;
};

KaCBottomUpModelBuilder::Options optionsOf(const Build& build, uint32_t threads) {
    KaCBottomUpModelBuilder::Options options;
    options.useCollectionType4 = build.type4;
    options.cellSize = build.cellSize;
    options.samplerParameter = build.parameter;
    options.threads = threads;
    return options;
}

}  // namespace

// The builder gives every inner node the model that CreateModel calls in bottom-up order
// give, bit for bit, whatever the number of threads: trees wide, deep, balanced and random,
// leaves with the basic, colour and full attribute sets, merged and grid-sampled models.
TEST_F(OrganisationTest, BottomUpBuildsEqualTheOneThreadRunBitForBit) {
    const Build builds[] = {{false, 0.0f, 0.0f}, {false, 0.5f, 1.0f}, {true, 0.25f, 0.0f}};
    const AttributeSet sets[] = {KaCSurfelContainer::eSurfelAttributeSetBasic,
                                 KaCSurfelContainer::eSurfelAttributeSetColor,
                                 KaCSurfelContainer::eSurfelAttributeSetFull};
    for (EShape shape : {eWide, eDeep, eBalanced, eRandom}) {
        for (AttributeSet set : sets) {
            const Inner root = RandomTree(m_random, shape, 40, set);
            const std::vector<Inner> nodes = InnerNodesPostOrder(root);
            for (const Build& build : builds) {
                SCOPED_TRACE(testing::Message() << ShapeName(shape) << " tree, attribute set "
                                                << set << ", cell " << build.cellSize);
                // The yardstick: CreateModel node by node, each after its inner children.
                for (const Inner& node : nodes) {
                    node->CreateModel(build.type4, build.cellSize, build.parameter);
                }
                const std::vector<ModelState> expected = Snapshot(nodes);
                ASSERT_FALSE(expected.back().geometry.empty());
                for (uint32_t threads : {1u, 2u, 3u, 8u, 0u}) {
                    SCOPED_TRACE(testing::Message() << threads << " threads");
                    // The models in place (held here, so that none is freed and its address
                    // reused) are replaced and play no part.
                    std::vector<CbSmartPointer<const KaCModelCCT>> previous;
                    for (const Inner& node : nodes) {
                        previous.push_back(node->GetModel());
                    }
                    KaCBottomUpModelBuilder::Build(root, optionsOf(build, threads));
                    const std::vector<ModelState> built = Snapshot(nodes);
                    EXPECT_TRUE(SameModels(expected, built));
                    for (size_t i = 0; i < nodes.size(); ++i) {
                        EXPECT_NE(built[i].model, previous[i].Get()) << "node " << i;
                    }
                }
                DeleteModels(nodes);
            }
        }
    }
}

// A node whose build throws (a leaf without model below it) stops the build as in the
// one-thread run: the exception of the first such node in post-order, every node before it
// with its new model, it and every node after it with the model and stamp it had.
TEST_F(OrganisationTest, BottomUpFailureLeavesWhatTheOneThreadRunLeaves) {
    const AttributeSet set = KaCSurfelContainer::eSurfelAttributeSetFull;
    int failures = 0;
    for (int round = 0; round < 24; ++round) {
        const EShape shape = static_cast<EShape>(round % 4);
        const Inner root = RandomTree(m_random, shape, 30, set);
        std::vector<Inner> nodes = InnerNodesPostOrder(root);
        // One to three leaves without model below random inner nodes, each after a leaf
        // with one (a walk passes over a first leaf without model).
        std::uniform_int_distribution<size_t> pick(0, nodes.size() - 1);
        for (int i = 0, n = 1 + round % 3; i < n; ++i) {
            const Inner& father = nodes[pick(m_random)];
            AddLeaf(m_random, father, set);
            AddLeaf(m_random, father, set, false);
        }
        const Build build{false, round % 2 == 0 ? 0.0f : 0.5f, 1.0f};

        // Old models with distinct stamps on every inner node.
        auto setOldModels = [&] {
            for (size_t i = 0; i < nodes.size(); ++i) {
                nodes[i]->SetModel(RandomModel(m_random, set, 3), static_cast<int64_t>(100 + i));
            }
        };
        setOldModels();
        const std::vector<ModelState> before = Snapshot(nodes);
        // The yardstick: CreateModel in post-order until the first exception.
        size_t failed = nodes.size();
        for (size_t i = 0; i < nodes.size() && failed == nodes.size(); ++i) {
            try {
                nodes[i]->CreateModel(build.type4, build.cellSize, build.parameter);
            } catch (const CbExceptionPreconditionViolation&) {
                failed = i;
            }
        }
        ASSERT_LT(failed, nodes.size()) << "round " << round;
        const std::vector<ModelState> expected = Snapshot(nodes);
        for (size_t i = failed; i < nodes.size(); ++i) {
            ASSERT_EQ(expected[i].model, before[i].model);
        }

        for (uint32_t threads : {1u, 2u, 4u}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << ShapeName(shape)
                                            << " tree, " << threads << " threads");
            setOldModels();
            const std::vector<ModelState> old = Snapshot(nodes);
            EXPECT_THROW(KaCBottomUpModelBuilder::Build(root, optionsOf(build, threads)),
                         CbExceptionPreconditionViolation);
            const std::vector<ModelState> after = Snapshot(nodes);
            for (size_t i = 0; i < nodes.size(); ++i) {
                if (i < failed) {
                    EXPECT_EQ(after[i].geometry, expected[i].geometry) << "node " << i;
                    EXPECT_EQ(after[i].stamp, -1) << "node " << i;
                } else {
                    // The very model object it had, and its stamp.
                    EXPECT_EQ(after[i].model, old[i].model) << "node " << i;
                    EXPECT_EQ(after[i].stamp, old[i].stamp) << "node " << i;
                }
            }
        }
        ++failures;
    }
    EXPECT_EQ(failures, 24);
}

// The case where the threads get ahead of the failure: the failing node waits for a slow
// inner child while other threads build the light subtrees after it in the one-thread
// order; those get their old models back.
TEST_F(OrganisationTest, BottomUpPutsBackModelsBuiltAfterTheFailure) {
    const AttributeSet set = KaCSurfelContainer::eSurfelAttributeSetFull;
    const Inner root = Manager().CreateInnerNode();
    const Inner failing = AddInner(m_random, root);
    const Inner slow = AddInner(m_random, failing);
    for (int i = 0; i < 4; ++i) {
        auto leaf = Manager().CreateLeafNode(RandomModel(m_random, set, 150000));
        Manager().AppendChild(slow, leaf, true);
    }
    AddLeaf(m_random, failing, set);
    AddLeaf(m_random, failing, set, false);
    for (int i = 0; i < 12; ++i) {
        AddLeaf(m_random, AddInner(m_random, root), set);
    }
    const std::vector<Inner> nodes = InnerNodesPostOrder(root);
    ASSERT_EQ(nodes[0], slow);
    ASSERT_EQ(nodes[1], failing);
    for (int round = 0; round < 3; ++round) {
        for (uint32_t threads : {2u, 4u}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << threads << " threads");
            for (size_t i = 0; i < nodes.size(); ++i) {
                nodes[i]->SetModel(RandomModel(m_random, set, 2), static_cast<int64_t>(7 + i));
            }
            const std::vector<ModelState> old = Snapshot(nodes);
            EXPECT_THROW(
                KaCBottomUpModelBuilder::Build(root, optionsOf({false, 0.0f, 0.0f}, threads)),
                CbExceptionPreconditionViolation);
            const std::vector<ModelState> after = Snapshot(nodes);
            EXPECT_EQ(after[0].stamp, -1);
            EXPECT_EQ(after[0].geometry.size() > 4 * 150000, true);
            for (size_t i = 1; i < nodes.size(); ++i) {
                EXPECT_EQ(after[i].model, old[i].model) << "node " << i;
                EXPECT_EQ(after[i].stamp, old[i].stamp) << "node " << i;
            }
        }
    }
}

// Refused arguments come out as CreateModel refuses them, on any number of threads, and
// change nothing; a null top and a top without inner children are handled.
TEST_F(OrganisationTest, BottomUpRefusalsAndSmallTrees) {
    const Inner root =
        RandomTree(m_random, eBalanced, 20, KaCSurfelContainer::eSurfelAttributeSetFull);
    const std::vector<Inner> nodes = InnerNodesPostOrder(root);
    for (uint32_t threads : {1u, 2u, 0u}) {
        const Build bad{false, -1.0f, 0.0f};
        EXPECT_ANY_THROW(KaCBottomUpModelBuilder::Build(root, optionsOf(bad, threads)));
        for (const Inner& node : nodes) {
            EXPECT_FALSE(node->GetModel());
        }
    }
    EXPECT_NO_THROW(KaCBottomUpModelBuilder::Build(Inner(), optionsOf({false, 0.0f, 0.0f}, 2)));

    // Leaves only, and no children at all: the top alone is built.
    const Inner flat = Manager().CreateInnerNode();
    for (int i = 0; i < 3; ++i) {
        AddLeaf(m_random, flat, KaCSurfelContainer::eSurfelAttributeSetFull);
    }
    const Inner empty = Manager().CreateInnerNode();
    for (const Inner& top : {flat, empty}) {
        KaCBottomUpModelBuilder::Build(top, optionsOf({false, 0.0f, 0.0f}, 4));
        ASSERT_TRUE(top->GetModel());
        const CbSmartPointer<const KaCModelCCT> built = top->GetModel();
        top->CreateModel(false, 0.0f, 0.0f);
        EXPECT_EQ(GeometryOf(built), GeometryOf(top->GetModel()));
    }

    EXPECT_EQ(KaCBottomUpModelBuilder::GetThreadCount(1), 1u);
    EXPECT_GE(KaCBottomUpModelBuilder::GetThreadCount(0), 1u);
    EXPECT_GE(KaCBottomUpModelBuilder::GetThreadCount(2), 1u);
    EXPECT_LE(KaCBottomUpModelBuilder::GetThreadCount(2), 2u);
}
