#include <gtest/gtest.h>

#include "platform/harbor/CbFactory.h"
#include "platform/lattice/CyNode.h"

namespace {

TEST(CyNode, PlainNodeDefaultsAndItsRunTimeTypeRecord) {
    CbSmartPointer<CyNode> node = CbMakeShared<CyNode>();
    const CyNode& constNode = *node;
    EXPECT_EQ(node->GetDataManager(), nullptr);
    EXPECT_TRUE(node->GetParent().IsNull());
    EXPECT_TRUE(constNode.GetParent().IsNull());
    EXPECT_TRUE(node->GetChildren().empty());
    EXPECT_FALSE(node->IsSerializable());
    EXPECT_FALSE(node->CreateData(L"data"));
    EXPECT_EQ(node->GetRTTIData(), nullptr);
    EXPECT_FALSE(node->isModified());
    EXPECT_FALSE(node->isTrackModifications());

    EXPECT_STREQ(node->GetClassNameW(), L"CyNode");
    EXPECT_TRUE(node->Is(CyNode::RTTI));
    EXPECT_EQ(CyNode::RTTI.GetBase(), nullptr);
    EXPECT_EQ(CbRTTI::Find(L"CyNode"), &CyNode::RTTI);
    EXPECT_EQ(CbRTTI::getClone(L"CyNode"), nullptr);
    CbSmartPointer<CyNode> made = CbCreateByName<CyNode>(L"CyNode");
    ASSERT_FALSE(made.IsNull());
    EXPECT_TRUE(made->Is(CyNode::RTTI));
    EXPECT_EQ(made->getReferenceCounter().GetCount(), 1);
}

}  // namespace
