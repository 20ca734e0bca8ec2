#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/CbSmartPointer.h"
#include "platform/harbor/CbWeakPointer.h"

namespace {

int g_alive = 0;

class Shape : public CbReferenceCounted {
public:
    Shape() { ++g_alive; }
    ~Shape() override { --g_alive; }
    virtual int Corners() const { return 0; }
};

class Square : public Shape {
public:
    int Corners() const override { return 4; }
};

class Circle : public Shape {};

// An interface reached through a virtual base, so that its address differs from the
// object's: conversions must adjust the pointer and still share one count.
class INamed : public virtual IReferenceCounted {
public:
    virtual int Name() const = 0;
};

class Named : public CbReferenceCounted, public INamed {
public:
    int m_padding[4] = {};
    int Name() const override { return 7; }
};

int32_t countOf(const IReferenceCounted& object) {
    return object.getReferenceCounter().GetCount();
}

TEST(CbSmartPointer, ConvertsToBaseAndCastsBackSharingOneCount) {
    {
        CbSmartPointer<Square> square = CbMakeShared<Square>();
        CbSmartPointer<Shape> shape = square;
        EXPECT_EQ(shape.Get(), static_cast<Shape*>(square.Get()));
        EXPECT_EQ(countOf(*square), 2);

        CbSmartPointer<Square> back = CbDynamicCast<Square>(shape);
        EXPECT_EQ(back.Get(), square.Get());
        EXPECT_EQ(countOf(*square), 3);
        EXPECT_EQ(back->Corners(), 4);

        EXPECT_TRUE(CbDynamicCast<Circle>(shape).IsNull());
        EXPECT_EQ(countOf(*square), 3);

        CbSmartPointer<Shape> moved = std::move(shape);
        EXPECT_TRUE(shape.IsNull());
        EXPECT_EQ(countOf(*square), 3);

        CbSmartPointer<Shape>& alias = moved;
        moved = alias;  // self-assignment keeps the object
        EXPECT_EQ(countOf(*square), 3);

        square.Reset();
        back.Reset();
        EXPECT_EQ(g_alive, 1);
        EXPECT_EQ(moved->Corners(), 4);
    }
    EXPECT_EQ(g_alive, 0);

    CbSmartPointer<Named> named = CbMakeShared<Named>();
    CbSmartPointer<INamed> face = named;
    EXPECT_NE(static_cast<const void*>(face.Get()), static_cast<const void*>(named.Get()));
    EXPECT_EQ(countOf(*named), 2);
    named.Reset();
    CbWeakPointer<INamed> weakFace = face;
    CbSmartPointer<INamed> locked = weakFace.Lock();
    EXPECT_EQ(locked.Get(), face.Get());
    EXPECT_EQ(locked->Name(), 7);
    EXPECT_EQ(CbDynamicCast<Named>(locked)->Name(), 7);
}

TEST(CbWeakPointer, ReadsNullOnceTheObjectDied) {
    CbSmartPointer<Square> square = CbMakeShared<Square>();
    CbWeakPointer<Shape> weak = square;
    CbWeakPointer<Shape> copy = weak;
    EXPECT_TRUE(weak.IsAlive());
    EXPECT_EQ(weak.Lock().Get(), square.Get());
    EXPECT_EQ(countOf(*square), 1);  // the lock above was released again

    square.Reset();
    EXPECT_EQ(g_alive, 0);
    EXPECT_FALSE(weak.IsAlive());
    EXPECT_TRUE(weak.Lock().IsNull());
    EXPECT_TRUE(copy.Lock().IsNull());
    CbWeakPointer<Shape> copyOfDead = weak;
    EXPECT_TRUE(copyOfDead.Lock().IsNull());
}

TEST(CbWeakPointer, LeavesTheWeakListWhereverItSits) {
    // Weak pointers destroyed or retargeted at the head, middle and tail of the list must
    // unlink cleanly; the others must still be cleared at death.
    CbSmartPointer<Shape> first = CbMakeShared<Shape>();
    CbSmartPointer<Shape> second = CbMakeShared<Shape>();
    std::vector<std::unique_ptr<CbWeakPointer<Shape>>> weak;
    for (int i = 0; i < 7; ++i) {
        weak.push_back(std::make_unique<CbWeakPointer<Shape>>(first));
    }
    // Pointers linked without the lock (a fresh object nobody else sees) join the same list.
    weak[4]->AssignUnshared(second.Get());
    EXPECT_EQ(weak[4]->GetLive(), second.Get());
    weak[4]->AssignUnshared(first.Get());
    EXPECT_EQ(weak[4]->GetLive(), first.Get());
    weak[0].reset();
    weak[3].reset();
    weak[6].reset();
    *weak[1] = second;
    *weak[5] = nullptr;
    EXPECT_TRUE(weak[5]->Lock().IsNull());

    first.Reset();
    for (int i : {2, 4}) {
        EXPECT_TRUE(weak[i]->Lock().IsNull()) << i;
    }
    EXPECT_EQ(weak[1]->Lock().Get(), second.Get());
    second.Reset();
    EXPECT_TRUE(weak[1]->Lock().IsNull());
    EXPECT_EQ(g_alive, 0);
}

// A father owns its child; the child observes its father weakly, as tree nodes do.
struct Child : CbReferenceCounted {
    CbWeakPointer<Child> father;
    CbWeakPointer<Child> self;
    CbSmartPointer<Child> child;
    bool* fatherWasNullAtDeath = nullptr;
    ~Child() override {
        if (fatherWasNullAtDeath != nullptr) {
            *fatherWasNullAtDeath = father.Lock().IsNull() && self.Lock().IsNull();
        }
    }
};

TEST(CbWeakPointer, IsClearedBeforeTheObjectIsDestroyed) {
    bool fatherWasNull = false;
    {
        CbSmartPointer<Child> father = CbMakeShared<Child>();
        father->self = father;
        father->child = CbMakeShared<Child>();
        father->child->father = father;
        father->child->self = father->child;
        father->child->fatherWasNullAtDeath = &fatherWasNull;
    }
    EXPECT_TRUE(fatherWasNull);
}

int g_deleterCalls = 0;
IReferenceCounted* g_deleted = nullptr;
CbWeakPointer<Shape>* g_watcher = nullptr;
bool g_watcherNullInDeleter = false;

void recordingDeleter(IReferenceCounted* object) {
    ++g_deleterCalls;
    g_deleted = object;
    g_watcherNullInDeleter = g_watcher->Lock().IsNull();
    delete object;
}

TEST(CbReferenceCounter, CallsTheDeleterOnceInsteadOfDeleting) {
    Square* raw = new Square();
    IReferenceCounted* counted = raw;  // the deleter receives this view of the object
    CbSmartPointer<Shape> owner(raw);
    raw->getReferenceCounter().SetDeleter(&recordingDeleter);
    CbWeakPointer<Shape> watcher = owner;
    g_watcher = &watcher;
    CbSmartPointer<Shape> second = owner;

    owner.Reset();
    EXPECT_EQ(g_deleterCalls, 0);
    second.Reset();
    EXPECT_EQ(g_deleterCalls, 1);
    EXPECT_EQ(g_deleted, counted);
    EXPECT_TRUE(g_watcherNullInDeleter);
    EXPECT_EQ(g_alive, 0);
    g_watcher = nullptr;
}

}  // namespace
