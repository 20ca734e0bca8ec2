#include <gtest/gtest.h>

#include "transformationtree/manager/KaCTransformationNodeManager.h"

TEST(KaCTransformationNode, FirstNodesOfAProcessDrawOneTwoThenThreeFour) {
    KaCTransformationNodeManager& manager = KaCTransformationNodeManager::GetInstance();
    CbSmartPointer<KaCTransformationNodeInner> first = manager.CreateInnerNode();
    CbSmartPointer<KaCTransformationNodeInner> second = manager.CreateInnerNode();
    EXPECT_EQ(first->GetNodeRevision(KaCTransformationNode::eRevisionModel), 1);
    EXPECT_EQ(first->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), 2);
    EXPECT_EQ(second->GetNodeRevision(KaCTransformationNode::eRevisionModel), 3);
    EXPECT_EQ(second->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), 4);

    // Setting a revision leaves the counter alone: the next one drawn is 5, not 101.
    first->SetNodeRevision(100, KaCTransformationNode::eRevisionModel);
    EXPECT_EQ(first->GetNodeRevision(KaCTransformationNode::eRevisionModel), 100);
    first->NewNodeRevision(KaCTransformationNode::eRevisionTrafo);
    EXPECT_EQ(first->GetNodeRevision(KaCTransformationNode::eRevisionTrafo), 5);
    manager.DeleteNode(first);
    manager.DeleteNode(second);
}
