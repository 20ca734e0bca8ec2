#include <gtest/gtest.h>

#include "transformationtree/manager/KaCTransformationNodeManager.h"

TEST(KaCTransformationNode, FirstNodesOfAProcessDrawOneTwoThenThreeFour) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<KaCTransformationNodeInner> first = manager.CreateInnerNode();
    CbSmartPointer<KaCTransformationNodeInner> second = manager.CreateInnerNode();
    EXPECT_EQ(first->GetNodeRevision(1), 1);
    EXPECT_EQ(first->GetNodeRevision(2), 2);
    EXPECT_EQ(second->GetNodeRevision(1), 3);
    EXPECT_EQ(second->GetNodeRevision(2), 4);

    // Setting a revision leaves the counter alone: the next one drawn is 5, not 101.
    first->SetNodeRevision(100, 1);
    EXPECT_EQ(first->GetNodeRevision(1), 100);
    first->NewNodeRevision(2);
    EXPECT_EQ(first->GetNodeRevision(2), 5);
    manager.DeleteNode(first);
    manager.DeleteNode(second);
}
