#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;

TEST_F(NodesTest, ConcurrentRevisionsAreDistinctAndIncreasing) {
    constexpr int c_threads = 4;
    constexpr int c_draws = 2000;
    Inner shared = m_manager.CreateInnerNode();
    std::vector<std::vector<int64_t>> drawn(c_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread draws on its own node and on a node all threads share.
            Inner own = m_manager.CreateInnerNode();
            for (int i = 0; i < c_draws; ++i) {
                KaCTransformationNode& node =
                    (i % 2 == 0) ? static_cast<KaCTransformationNode&>(*own) : *shared;
                node.NewNodeRevision(KaCTransformationNode::eRevisionAll);
                drawn[t].push_back(node.GetNodeRevision(KaCTransformationNode::eRevisionAll));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::set<int64_t> own;
    for (int t = 0; t < c_threads; ++t) {
        // The revisions a thread sees on its own node rise strictly.
        for (size_t i = 2; i < drawn[t].size(); i += 2) {
            EXPECT_LT(drawn[t][i - 2], drawn[t][i]);
        }
        for (size_t i = 0; i < drawn[t].size(); i += 2) {
            EXPECT_TRUE(own.insert(drawn[t][i]).second)
                << "revision " << drawn[t][i] << " handed out twice";
        }
    }
    // Both kinds of the shared node carry distinct numbers.
    EXPECT_NE(shared->GetNodeRevision(KaCTransformationNode::eRevisionModel),
              shared->GetNodeRevision(KaCTransformationNode::eRevisionTrafo));
}
