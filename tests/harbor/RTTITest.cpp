#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbRTTI.h"
#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/IObject.h"

namespace {

int g_liveObjects = 0;

class HarborTestAnimal : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    HarborTestAnimal() { ++g_liveObjects; }
    HarborTestAnimal(const HarborTestAnimal& other)
        : CbReferenceCounted(other), IObject(other), legs(other.legs) {
        ++g_liveObjects;
    }
    ~HarborTestAnimal() override { --g_liveObjects; }
    int legs = 4;

private:
    static IObject* create() { return new HarborTestAnimal(); }
    static IObject* clone(const IObject& other) {
        return new HarborTestAnimal(dynamic_cast<const HarborTestAnimal&>(other));
    }
};
CB_DEFINE_RTTI(HarborTestAnimal, nullptr, &HarborTestAnimal::create, &HarborTestAnimal::clone)

class HarborTestBird : public HarborTestAnimal {
    CB_DECLARE_RTTI()

public:
    HarborTestBird() { legs = 2; }

private:
    static IObject* create() { return new HarborTestBird(); }
    static IObject* clone(const IObject& other) {
        return new HarborTestBird(dynamic_cast<const HarborTestBird&>(other));
    }
};
CB_DEFINE_RTTI(HarborTestBird, &HarborTestAnimal::RTTI, &HarborTestBird::create,
               &HarborTestBird::clone)

// Reference counted, run-time typed, but no animal; no clone function.
class HarborTestStone : public CbReferenceCounted, public IObject {
    CB_DECLARE_RTTI()

public:
    HarborTestStone() { ++g_liveObjects; }
    ~HarborTestStone() override { --g_liveObjects; }

private:
    static IObject* create() { return new HarborTestStone(); }
};
CB_DEFINE_RTTI(HarborTestStone, nullptr, &HarborTestStone::create, nullptr)

// Not reference counted at all.
class HarborTestPlain : public IObject {
    CB_DECLARE_RTTI()

public:
    HarborTestPlain() { ++g_liveObjects; }
    ~HarborTestPlain() override { --g_liveObjects; }

private:
    static IObject* create() { return new HarborTestPlain(); }
};
CB_DEFINE_RTTI(HarborTestPlain, nullptr, &HarborTestPlain::create, nullptr)

class HarborTestFailing : public HarborTestAnimal {
    CB_DECLARE_RTTI()

private:
    static IObject* create() { throw std::runtime_error("cannot create"); }
};
CB_DEFINE_RTTI(HarborTestFailing, &HarborTestAnimal::RTTI, &HarborTestFailing::create, nullptr)

TEST(CbRTTI, RecordsAndRegistryByName) {
    EXPECT_STREQ(HarborTestBird::RTTI.GetName(), L"HarborTestBird");
    EXPECT_EQ(CbRTTI::Find(L"HarborTestBird"), &HarborTestBird::RTTI);
    EXPECT_EQ(CbRTTI::Find(L"NoSuchClass"), nullptr);
    EXPECT_EQ(CbRTTI::getCreate(L"NoSuchClass"), nullptr);
    EXPECT_EQ(CbRTTI::getClone(L"NoSuchClass"), nullptr);
    EXPECT_EQ(CbRTTI::getClone(L"HarborTestStone"), nullptr);
    EXPECT_EQ(CbRTTI::getCreate(L"harbortestbird"), nullptr);  // names are case-sensitive

    struct Relation {
        const CbRTTI& record;
        const CbRTTI& other;
        bool is;
        bool isKindOf;
    };
    const Relation relations[] = {
        {HarborTestBird::RTTI, HarborTestBird::RTTI, true, true},
        {HarborTestBird::RTTI, HarborTestAnimal::RTTI, false, true},
        {HarborTestAnimal::RTTI, HarborTestBird::RTTI, false, false},
        {HarborTestStone::RTTI, HarborTestAnimal::RTTI, false, false},
    };
    for (const Relation& r : relations) {
        EXPECT_EQ(r.record.Is(r.other), r.is) << r.record.GetName() << " / " << r.other.GetName();
        EXPECT_EQ(r.record.IsKindOf(r.other), r.isKindOf)
            << r.record.GetName() << " / " << r.other.GetName();
        EXPECT_EQ(r.record != r.other, !r.is);
    }

    // The create function found by name makes an object of that very class.
    IObject* made = CbRTTI::getCreate(L"HarborTestBird")();
    EXPECT_TRUE(made->Is(HarborTestBird::RTTI));
    EXPECT_TRUE(made->IsKindOf(HarborTestAnimal::RTTI));
    EXPECT_STREQ(made->GetClassNameW(), L"HarborTestBird");
    delete made;

    // Cloning goes through the record of the object's own class, not of the static type.
    HarborTestBird bird;
    bird.legs = 3;
    const HarborTestAnimal& asAnimal = bird;
    IObject* copy = CbRTTI::getClone(asAnimal.GetRTTI().GetName())(asAnimal);
    ASSERT_TRUE(copy->Is(HarborTestBird::RTTI));
    EXPECT_EQ(dynamic_cast<HarborTestBird*>(copy)->legs, 3);
    delete copy;
    EXPECT_EQ(g_liveObjects, 1);
}

TEST(CbFactory, CreatesByNameAndRefusesWrongTypesWithoutLeaking) {
    {
        CbSmartPointer<HarborTestAnimal> bird = CbCreateByName<HarborTestAnimal>(L"HarborTestBird");
        ASSERT_FALSE(bird.IsNull());
        EXPECT_TRUE(bird->Is(HarborTestBird::RTTI));
        EXPECT_EQ(bird->getReferenceCounter().GetCount(), 1);

        bird->legs = 5;
        CbSmartPointer<HarborTestBird> copy = CbCloneByName<HarborTestBird>(*bird);
        ASSERT_FALSE(copy.IsNull());
        EXPECT_NE(copy.Get(), bird.Get());
        EXPECT_EQ(copy->legs, 5);
        EXPECT_EQ(g_liveObjects, 2);
    }
    EXPECT_EQ(g_liveObjects, 0);

    // Each of these is refused with null; whatever was made on the way is destroyed.
    const wchar_t* refused[] = {L"HarborTestStone", L"HarborTestPlain", L"HarborTestFailing",
                                L"NoSuchClass"};
    for (const wchar_t* name : refused) {
        EXPECT_TRUE(CbCreateByName<HarborTestAnimal>(name).IsNull()) << name;
        EXPECT_EQ(g_liveObjects, 0) << name;
    }
    HarborTestStone stone;
    EXPECT_TRUE(CbCloneByName<HarborTestStone>(stone).IsNull());  // no clone function
    HarborTestAnimal animal;
    EXPECT_TRUE(CbCloneByName<HarborTestBird>(animal).IsNull());  // a copy, but no bird
    EXPECT_EQ(g_liveObjects, 2);
}

}  // namespace
