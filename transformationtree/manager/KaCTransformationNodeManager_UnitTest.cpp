#include "transformationtree/manager/KaCTransformationNodeManager_UnitTest.h"

#include <chrono>
#include <cstdarg>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbEvent.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/harbor/CbThread.h"
#include "platform/tidewell/KaCDataManager.h"
#include "platform/tidewell/KaCWinLog.h"
#include "transformationtree/manager/KaCTransformationNodeManager.h"

CB_DEFINE_RTTI(KaCTransformationNodeManager_UnitTest, nullptr,
               &KaCTransformationNodeManager_UnitTest::CreateByFactory, nullptr)

namespace {

using Test = KaCTransformationNodeManager_UnitTest;
using Manager = KaCTransformationNodeManager;

// The steps that the main thread releases one after the other; manual reset.
CbEvent g_stepA(true);
CbEvent g_stepB(true);
CbEvent g_stepC(true);
CbEvent g_stepD(true);

// Every thread acknowledges a step on an event of its own, once it has done what must
// happen before the main thread may release the next step; the main thread waits for each
// acknowledgement it expects, so a slow thread cannot still be at work in one step while
// another thread is already in the next.
void waitForStep(CbEvent& step) {
    CbEvent::WaitForSingleEvent(step, CbEvent::c_infinite);
}

void acknowledge(CbEvent& acknowledgement) {
    acknowledgement.Set();
}

void waitForAcknowledgement(CbEvent& acknowledgement) {
    CbEvent::WaitForSingleEvent(acknowledgement, CbEvent::c_infinite);
    acknowledgement.Reset();
}

// Descriptions are taken by the main thread before the threads start (nobody renames a
// node during the test); father links are read only under access the reading thread holds.
std::wstring descriptionOf(const CbSmartPointer<KaCTransformationNode>& node) {
    return node ? node->GetDescription() : L"nullptr";
}

// Holds write access to both fathers and moves the child from the first to the second.
class Thread1 : public CbThread<Thread1> {
public:
    Thread1(Test& test, CbSmartPointer<KaCTransformationNodeInner> father1,
            CbSmartPointer<KaCTransformationNodeInner> father2)
        : CbThread<Thread1>("TestThread1")
        , m_test(test)
        , m_father1(std::move(father1))
        , m_father2(std::move(father2))
        , m_father1Name(descriptionOf(m_father1))
        , m_father2Name(descriptionOf(m_father2)) {}

    CbEvent& Acknowledgement() { return m_acknowledgement; }

    void Run() {
        Manager& manager = Manager::GetInstance();
        Manager::WriteHandle handle1 = manager.GetWriteHandle(m_father1);
        Manager::WriteHandle handle2 = manager.GetWriteHandle(m_father2);
        m_test.Write(Test::eMessageProgress, "WriteHandles instantiated for for %s and %s",
                     m_father1Name.c_str(), m_father2Name.c_str());
        waitForStep(g_stepB);
        try {
            manager.Lock();
            m_test.Write(Test::eMessageProgress, "WriteHandles granted for for %s and %s",
                         m_father1Name.c_str(), m_father2Name.c_str());
        } catch (const CbException&) {
            m_test.Write(Test::eMessageError, "Call to Lock() failed with an exception!");
            m_test.SetError();
        }
        // Acknowledged once the fathers are held, so the readers ask for the child while
        // the writer holds it.
        acknowledge(m_acknowledgement);
        waitForStep(g_stepD);
        acknowledge(m_acknowledgement);
        if (handle1.IsGranted() && handle2.IsGranted()) {
            moveChild(manager);
        }
    }

private:
    void moveChild(Manager& manager) {
        CbSmartPointer<KaCTransformationNode> child = m_father1->FrontChild();
        manager.MoveNode(m_father2, child, nullptr);
        m_test.Write(Test::eMessageProgress, "Node %s moved from %s to %s",
                     descriptionOf(child).c_str(), m_father1Name.c_str(), m_father2Name.c_str());
        CbSmartPointer<KaCTransformationNode> father = child ? child->GetFather() : nullptr;
        if (father != m_father2) {
            m_test.Write(Test::eMessageError, "Node %s has wrong father. Should be %s but is %s",
                         descriptionOf(child).c_str(), m_father2Name.c_str(),
                         descriptionOf(father).c_str());
            m_test.SetError();
        }
    }

    Test& m_test;
    CbSmartPointer<KaCTransformationNodeInner> m_father1;
    CbSmartPointer<KaCTransformationNodeInner> m_father2;
    const std::wstring m_father1Name;
    const std::wstring m_father2Name;
    CbEvent m_acknowledgement{true};
};

// Waits for read access to the child while the other thread moves it.
class Thread2 : public CbThread<Thread2> {
public:
    Thread2(Test& test, CbSmartPointer<KaCTransformationNode> child)
        : CbThread<Thread2>("TestThread2")
        , m_test(test)
        , m_child(std::move(child))
        , m_childName(descriptionOf(m_child)) {}

    CbEvent& Acknowledgement() { return m_acknowledgement; }

    void Run() {
        Manager& manager = Manager::GetInstance();
        waitForStep(g_stepA);
        // The father as it is before the move, read under a short read access of its own
        // that ends before the request below is made.
        const std::wstring fatherBefore = fatherOfChild(manager.GetSingleReadHandleLocked(m_child));
        Manager::ReadHandle handle = manager.GetReadHandle(m_child);
        m_test.Write(Test::eMessageProgress, "ReadHandle instantiated for %s (father=%s)",
                     m_childName.c_str(), fatherBefore.c_str());
        acknowledge(m_acknowledgement);
        waitForStep(g_stepC);
        // Acknowledged before Lock(), which waits until the writer has moved the child.
        acknowledge(m_acknowledgement);
        try {
            manager.Lock();
            m_test.Write(Test::eMessageProgress, "Call to Lock() succeeded");
        } catch (const CbException&) {
            m_test.Write(Test::eMessageProgress, "Lock() attemt failed with an exception.");
            m_test.SetError();
        }
        m_test.Write(Test::eMessageProgress, "ReadLock granted for %s(father=%s)",
                     m_childName.c_str(), fatherOfChild(handle).c_str());
        if (!handle.IsGranted()) {
            m_test.SetError();
        }
    }

private:
    // The child's father's description when `access` is granted; without access the link
    // is not read.
    std::wstring fatherOfChild(const Manager::ReadHandle& access) const {
        return access.IsGranted() ? descriptionOf(m_child->GetFather()) : L"not readable";
    }

    Test& m_test;
    CbSmartPointer<KaCTransformationNode> m_child;
    const std::wstring m_childName;
    CbEvent m_acknowledgement{true};
};

}  // namespace

const char* Test::getSubtestName(unsigned int /*subtest*/) const {
    return "AirNodeLockTest";
}

Test::EResult Test::runUnitTest(unsigned int /*subtest*/, bool /*interactive*/) {
    return runAirNodeTest();
}

void Test::Write(EMessageType type, const char* format, ...) const {
    std::wstring wideFormat = CbFromUtf8(format ? format : "");
    va_list arguments;
    va_start(arguments, format);
    std::wstring text = CbFormatVW(wideFormat.c_str(), arguments);
    va_end(arguments);
    static const KaCWinLog log;
    CbCriticalSectionAuto lock(m_writeLock);
    const_cast<Test*>(this)->WriteMessage(type, text);
    log.LogF(L"%s", text.c_str());
}

Test::EResult Test::runAirNodeTest() {
    m_error = false;
    for (CbEvent* event : {&g_stepA, &g_stepB, &g_stepC, &g_stepD}) {
        event->Reset();
    }
    Manager& manager = Manager::GetInstance();
    KaCDataManager& dataManager = KaCDataManager::GetInstance();
    // Only what the test binds here is undone at its end: a binding the application made
    // before stays as it was.
    const bool boundHere = manager.SetDataManager(dataManager, dataManager.GetRootNode());

    CbSmartPointer<KaCTransformationNodeInner> root = manager.CreateInnerNode();
    manager.SetRootNode(root);
    CbSmartPointer<KaCTransformationNodeInner> father1 = manager.CreateInnerNode();
    CbSmartPointer<KaCTransformationNodeInner> father2 = manager.CreateInnerNode();
    auto emptyCollection = CbMakeShared<KaCSurfelCollectionCCT>(
        static_cast<KaCSurfelContainer::ESurfelAttributeSet>(0));
    CbSmartPointer<KaCTransformationNodeLeaf> child =
        manager.CreateLeafNode(CCT_DepthImage::Create(emptyCollection, true));
    father1->SetDescription(L"Father1");
    father2->SetDescription(L"Father2");
    child->SetDescription(L"Child");
    {
        Manager::WriteHandle handle = manager.GetSingleWriteHandleLocked(manager.GetRootNode());
        manager.AppendChild(root, father1, true);
        manager.AppendChild(root, father2, true);
        manager.AppendChild(father1, child, true);
    }

    {
        auto writer = std::make_unique<Thread1>(*this, father1, father2);
        auto reader1 = std::make_unique<Thread2>(*this, child);
        auto reader2 = std::make_unique<Thread2>(*this, child);
        writer->Start();
        reader1->Start();
        reader2->Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const std::vector<std::pair<CbEvent*, std::vector<CbEvent*>>> steps = {
            {&g_stepA, {&reader1->Acknowledgement(), &reader2->Acknowledgement()}},
            {&g_stepB, {&writer->Acknowledgement()}},
            {&g_stepC, {&reader1->Acknowledgement(), &reader2->Acknowledgement()}},
            {&g_stepD, {&writer->Acknowledgement()}},
        };
        for (const auto& [step, acknowledgements] : steps) {
            step->Set();
            for (CbEvent* acknowledgement : acknowledgements) {
                waitForAcknowledgement(*acknowledgement);
            }
        }
        writer->Wait(CbEvent::c_infinite);
        reader1->Wait(CbEvent::c_infinite);
        reader2->Wait(CbEvent::c_infinite);
    }

    // Leave the managers as they were, so that the test can run again in this process.
    {
        Manager::WriteHandle handle = manager.GetSingleWriteHandleLocked(manager.GetRootNode());
        manager.UnsetRootNode();
    }
    if (boundHere && !manager.UnsetDataManager()) {
        m_error = true;
    }
    return m_error ? eResultFailed : eResultSucceeded;
}
