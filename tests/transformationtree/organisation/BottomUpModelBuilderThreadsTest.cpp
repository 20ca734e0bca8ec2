#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/granary/KaCGridSampler.h"
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

// The grid sampler's own threads inside the builds (every container on its parallel path):
// builds on several threads, in the calling thread's arena and on one thread, each sampler
// with tasks of its own inside the builder's, give the one-thread models with one-thread
// samplers bit for bit.
TEST_F(OrganisationTest, BottomUpBuildsWithParallelSamplersStayEqualToOneThread) {
    const auto set = KaCSurfelContainer::eSurfelAttributeSetFull;
    for (EShape shape : {eBalanced, eWide}) {
        const Inner root = RandomTree(m_random, shape, 24, set);
        const std::vector<Inner> nodes = InnerNodesPostOrder(root);
        KaCBottomUpModelBuilder::Options options;
        options.cellSize = 0.5f;
        options.samplerParameter = 1.0f;
        options.threads = 1;
        KaCBottomUpModelBuilder::Build(root, options);  // samplers on one thread (the default)
        const std::vector<ModelState> expected = Snapshot(nodes);

        KaCGridSampler::SetDefaultParallelThreshold(0);
        for (uint32_t threads : {3u, 0u, 1u}) {
            SCOPED_TRACE(testing::Message()
                         << ShapeName(shape) << " tree, " << threads << " threads");
            DeleteModels(nodes);
            options.threads = threads;
            KaCBottomUpModelBuilder::Build(root, options);
            EXPECT_TRUE(SameModels(expected, Snapshot(nodes)));
        }
        KaCGridSampler::SetDefaultParallelThreshold(KaCGridSampler::ms_defaultParallelThreshold);
    }
}
