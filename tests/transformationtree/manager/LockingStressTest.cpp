#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/tidewell/KaCDataManager.h"
#include "tests/support/TreeTestSupport.h"

using namespace TreeTestSupport;
using Manager = KaCTransformationNodeManager;

// Threads share a mirrored tree of clusters: each round a thread takes read or write access
// to one or two random clusters with one Lock() and walks or edits them while it holds the
// access. Run under ThreadSanitizer this shows the access rules cover everything the edits
// and walks touch; at the end the tree must be consistent and no leaf lost or duplicated.
TEST_F(ManagerTest, ThreadsEditAndWalkUnderTheirAccess) {
    constexpr int c_clusters = 6;
    constexpr int c_threads = 4;
    constexpr int c_rounds = 250;
    KaCDataManager& data = KaCDataManager::GetInstance();
    ASSERT_TRUE(m_manager.SetDataManager(data, data.GetRootNode()));
    Inner root = m_manager.CreateRootNode();
    std::vector<Inner> clusters;
    CbSmartPointer<const KaCModelCCT> model = MakeModel(8);
    {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
        for (int i = 0; i < c_clusters; ++i) {
            clusters.push_back(m_manager.CreateInnerNode());
            m_manager.AppendChild(root, clusters.back(), true);
            for (int j = 0; j < 3; ++j) {
                m_manager.AppendChild(clusters.back(), m_manager.CreateLeafNode(model), true);
            }
        }
    }

    std::atomic<int> added{0};
    std::atomic<int> removed{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t + 1));
            std::uniform_int_distribution<int> pick(0, c_clusters - 1);
            for (int round = 0; round < c_rounds; ++round) {
                Inner first = clusters[static_cast<size_t>(pick(random))];
                Inner second = clusters[static_cast<size_t>(pick(random))];
                try {
                    switch (random() % 4) {
                        case 0: {  // walk under read access
                            Manager::ReadHandle access = m_manager.GetReadHandle(first);
                            m_manager.Lock();
                            uint64_t leaves = 0;
                            for (auto it = first->BeginLeaf(); it; ++it) {
                                leaves += (*it).GetLeafNode() ? 1 : 0;
                            }
                            EXPECT_EQ(leaves, first->GetNrLeafNodes());
                            first->GetBoundingBox(c_matIdentityD);
                            break;
                        }
                        case 1: {  // add a scan
                            Manager::WriteHandle access = m_manager.GetWriteHandle(first);
                            m_manager.Lock();
                            m_manager.AppendChild(first, m_manager.CreateLeafNode(model), true);
                            ++added;
                            break;
                        }
                        case 2: {  // remove a scan
                            Manager::WriteHandle access =
                                m_manager.GetSingleWriteHandleLocked(first);
                            if (Node leaf = first->FrontChild()) {
                                m_manager.RemoveChild(first, leaf);
                                m_manager.DeleteNode(leaf);
                                ++removed;
                            }
                            break;
                        }
                        default: {  // move a scan between two clusters, both held at once
                            Manager::WriteHandle from = m_manager.GetWriteHandle(first);
                            Manager::WriteHandle to = m_manager.GetWriteHandle(second);
                            m_manager.Lock();
                            if (Node leaf = first->BackChild()) {
                                m_manager.MoveNode(second, leaf, nullptr);
                            }
                            break;
                        }
                    }
                } catch (const CbException&) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    Manager::ReadHandle access = m_manager.GetSingleReadHandleLocked(root);
    EXPECT_TRUE(m_manager.IsValid());
    EXPECT_EQ(root->GetNrLeafNodes(), static_cast<uint64_t>(c_clusters * 3 + added - removed));
    // Every scan is registered once and mirrored below its cluster.
    for (auto it = root->BeginLeaf(); it; ++it) {
        Node leaf = (*it).GetNode();
        EXPECT_EQ(m_manager.GetNodeByID(leaf->GetID()), leaf);
        EXPECT_EQ(leaf->GetParent(), CbSmartPointer<CyNode>(leaf->GetFather()));
    }
}
