#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/tidewell/KaCDataManager.h"
#include "tests/support/TreeTestSupport.h"
#include "transformationtree/organisation/KaCSessionTransformationTree.h"
#include "transformationtree/organisation/KaCTransformationTreeUtility.h"
#include "transformationtree/persistence/KaCTransformationTreeComparator.h"
#include "transformationtree/persistence/KaCTransformationTreeSerializer.h"

using namespace TreeTestSupport;
using Manager = KaCTransformationNodeManager;

namespace {

// Writes `node`'s subtree and reads it back as a new, unregistered tree.
Inner roundTrip(const Inner& node) {
    CbStreamWriteBinaryBuffer written;
    KaCTransformationTreeSerializer::Write(written, node);
    CbStreamReadBinaryBuffer stream(written.GetData(), written.GetCount());
    return KaCTransformationTreeSerializer::Read(stream, false);
}

}  // namespace

// Many threads use one mirrored session for a bounded number of rounds: they add scans with
// the tree utility, rebalance and remove them, walk clusters, lock many nodes at once, and
// write clusters out and read them back, each under the access its work needs. Afterwards
// the tree is consistent and survives a full round trip.
TEST_F(OrganisationTest, SoakManyThreadsOnOneSession) {
    constexpr int c_threads = 6;
    constexpr int c_rounds = 120;
    KaCDataManager& data = KaCDataManager::GetInstance();
    ASSERT_TRUE(m_manager.SetDataManager(data, data.GetRootNode()));
    Inner root = m_manager.CreateRootNode();
    auto session = CbMakeShared<KaCSessionTransformationTree>(root);
    std::vector<Inner> collectors;
    {
        Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
        for (int c = 0; c < 4; ++c) {
            collectors.push_back(
                KaCTransformationTree::GetCollectorNode(session->NewCluster(false)));
        }
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(100 + t));
            KaCTransformationTreeUtility& utility = KaCTransformationTreeUtility::GetInstance();
            for (int round = 0; round < c_rounds; ++round) {
                Inner collector = collectors[random() % collectors.size()];
                try {
                    switch ((t + round) % 5) {
                        case 0: {  // a new scan, then a balanced collector
                            Manager::WriteHandle access =
                                m_manager.GetSingleWriteHandleLocked(collector);
                            CbMatrix4Rd pose = RandomRigid(random);
                            utility.CreateLeaf(collector,
                                               MakeModel(3, static_cast<uint32_t>(round)), &pose);
                            utility.NormalizeTreeStructure(collector, 3, false);
                            break;
                        }
                        case 1: {  // remove the first scan
                            Manager::WriteHandle access =
                                m_manager.GetSingleWriteHandleLocked(collector);
                            if (auto leaf = collector->FrontLeaf()) {
                                utility.RemoveSubtree(leaf, false);
                            }
                            break;
                        }
                        case 2: {  // walk and query surfels
                            Manager::ReadHandle access =
                                m_manager.GetSingleReadHandleLocked(collector);
                            uint64_t leaves = 0;
                            for (auto it = collector->BeginLeaf(); it; ++it) {
                                ++leaves;
                            }
                            EXPECT_EQ(leaves, collector->GetNrLeafNodes());
                            auto ras = collector->GetRas();
                            if (ras.GetNrOfOverallSurfels() > 0) {
                                ras.GetPosition(ras.GetNrOfOverallSurfels() - 1);
                            }
                            break;
                        }
                        case 3: {  // every collector at once, read
                            std::vector<Manager::ReadHandle> handles;
                            for (const Inner& each : collectors) {
                                handles.push_back(m_manager.GetReadHandle(each));
                            }
                            m_manager.Lock();
                            for (const Inner& each : collectors) {
                                EXPECT_TRUE(m_manager.IsReadLocked(each));
                            }
                            break;
                        }
                        default: {  // write a cluster out and read it back
                            Manager::ReadHandle access =
                                m_manager.GetSingleReadHandleLocked(collector);
                            Inner copy = roundTrip(collector);
                            EXPECT_EQ(
                                KaCTransformationTreeComparator::FirstDifference(collector, copy),
                                L"");
                            break;
                        }
                    }
                } catch (const CbException& error) {
                    ADD_FAILURE() << error.what();
                    ++failures;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    Manager::WriteHandle access = m_manager.GetSingleWriteHandleLocked(root);
    EXPECT_TRUE(m_manager.IsValid());
    EXPECT_EQ(KaCTransformationTreeComparator::FirstDifference(root, roundTrip(root)), L"");
    session = nullptr;
}
