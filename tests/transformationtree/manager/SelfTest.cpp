#include <gtest/gtest.h>

#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/tidewell/KaCDataManager.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"
#include "transformationtree/manager/KaCTransformationNodeManager_UnitTest.h"

TEST(KaCTransformationNodeManager_UnitTest, MovesANodeWhileReadersWaitAndRunsAgain) {
    auto test = CbCreateByName<CyUnitTest>(L"KaCTransformationNodeManager_UnitTest");
    ASSERT_TRUE(test);
    EXPECT_EQ(test->GetNrOfSubtests(), 1u);
    EXPECT_STREQ(test->getSubtestName(0), "AirNodeLockTest");
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(test->runUnitTest(0, false), CyUnitTest::eResultSucceeded);
    }
    int moved = 0;
    int granted = 0;
    int instantiated = 0;
    for (const CyUnitTest::Message& message : test->GetMessages()) {
        EXPECT_EQ(message.type, CyUnitTest::eMessageProgress) << CbToUtf8(message.text);
        instantiated += message.text == L"ReadHandle instantiated for Child (father=Father1)";
        moved += message.text == L"Node Child moved from Father1 to Father2";
        // The writer holds both fathers before the readers ask, so they see the new father.
        granted += message.text == L"ReadLock granted for Child(father=Father2)";
    }
    EXPECT_EQ(instantiated, 4);
    EXPECT_EQ(moved, 2);
    EXPECT_EQ(granted, 4);
    // The test leaves the manager as it found it.
    EXPECT_FALSE(KaCTransformationNodeManager::GetInstance().GetRootNode());
    EXPECT_EQ(KaCTransformationNodeManager::GetInstance().GetNrRegisteredNodes(), 0u);

    // A data manager bound before the test stays bound after it.
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    KaCDataManager& dataManager = KaCDataManager::GetInstance();
    ASSERT_TRUE(manager.SetDataManager(dataManager, dataManager.GetRootNode()));
    EXPECT_EQ(test->runUnitTest(0, false), CyUnitTest::eResultSucceeded);
    EXPECT_TRUE(manager.UnsetDataManager());
}
