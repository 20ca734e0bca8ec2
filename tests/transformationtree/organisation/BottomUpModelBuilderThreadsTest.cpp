#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/transformationtree/organisation/BottomUpModelBuilderSupport.h"
#include "transformationtree/organisation/KaCBottomUpModelBuilder.h"

using namespace bottomuptest;
using TreeTestSupport::OrganisationTest;

// Bottom-up builds on several threads, again and again, and two such builds at once from
// two calling threads on two trees (sharing the surfel memory pool, the ID generators and
// the leaves' models, which both trees hang): every result equals the one-thread run. Under
// ThreadSanitizer this checks everything a build touches for races.
TEST_F(OrganisationTest, BottomUpBuildsOnManyThreadsStayEqualToOneThread) {
    const auto set = KaCSurfelContainer::eSurfelAttributeSetFull;
    for (int round = 0; round < 4; ++round) {
        const EShape shape = static_cast<EShape>(round % 4);
        const Inner first = RandomTree(m_random, shape, 48, set);
        // A second tree over the same leaf models.
        const Inner second = Manager().CreateInnerNode();
        for (auto child = first->BeginChild(); child != first->EndChild(); ++child) {
            if ((*child)->IsLeaf()) {
                auto leaf = Manager().CreateLeafNode((*child)->GetModel());
                Manager().AppendChild(second, leaf, true);
            }
        }
        const Inner copyOfFirst = Manager().CreateInnerNode();
        Manager().AppendChild(second, copyOfFirst, true);
        for (const Inner& node : InnerNodesPostOrder(first)) {
            auto group = Manager().CreateInnerNode();
            Manager().AppendChild(copyOfFirst, group, true);
            for (auto child = node->BeginChild(); child != node->EndChild(); ++child) {
                if ((*child)->IsLeaf()) {
                    Manager().AppendChild(group, Manager().CreateLeafNode((*child)->GetModel()),
                                          true);
                }
            }
        }
        const std::vector<Inner> firstNodes = InnerNodesPostOrder(first);
        const std::vector<Inner> secondNodes = InnerNodesPostOrder(second);

        KaCBottomUpModelBuilder::Options options;
        options.cellSize = round % 2 == 0 ? 0.5f : 0.0f;
        options.samplerParameter = 1.0f;
        options.threads = 1;
        KaCBottomUpModelBuilder::Build(first, options);
        KaCBottomUpModelBuilder::Build(second, options);
        const std::vector<ModelState> firstExpected = Snapshot(firstNodes);
        const std::vector<ModelState> secondExpected = Snapshot(secondNodes);

        for (uint32_t threads : {4u, 3u}) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << ShapeName(shape)
                                            << " tree, " << threads << " threads");
            DeleteModels(firstNodes);
            DeleteModels(secondNodes);
            options.threads = threads;
            std::thread other([&] { KaCBottomUpModelBuilder::Build(second, options); });
            KaCBottomUpModelBuilder::Build(first, options);
            other.join();
            EXPECT_TRUE(SameModels(firstExpected, Snapshot(firstNodes)));
            EXPECT_TRUE(SameModels(secondExpected, Snapshot(secondNodes)));
        }
    }
}
