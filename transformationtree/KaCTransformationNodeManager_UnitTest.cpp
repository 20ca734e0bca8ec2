#include "transformationtree/KaCTransformationNodeManager_UnitTest.h"

#include <chrono>
#include <cstdarg>
#include <memory>
#include <thread>

#include "platform/granary/CCT_DepthImage.h"
#include "platform/harbor/CbCriticalSectionAuto.h"
#include "platform/harbor/CbEvent.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/harbor/CbThread.h"
#include "platform/tidewell/KaCDataManager.h"
#include "platform/tidewell/KaCWinLog.h"
#include "transformationtree/KaCTransformationNodeManager.h"

CB_DEFINE_RTTI(KaCTransformationNodeManager_UnitTest, nullptr,
               &KaCTransformationNodeManager_UnitTest::CreateByFactory, nullptr)

namespace {

using Test = KaCTransformationNodeManager_UnitTest;
using Manager = KaCTransformationNodeManager;

// The steps that sequence the threads, and the acknowledgement of each; manual reset.
CbEvent g_stepA(true);
CbEvent g_stepB(true);
CbEvent g_stepC(true);
CbEvent g_stepD(true);
CbEvent g_acknowledge(true);

void waitForStep(CbEvent& step) {
    CbEvent::WaitForSingleEvent(step, CbEvent::c_infinite);
    g_acknowledge.Set();
}

const wchar_t* descriptionOf(const CbSmartPointer<KaCTransformationNode>& node) {
    return node ? node->GetDescription().c_str() : L"nullptr";
}

// Holds write access to both fathers and moves the child from the first to the second.
class Thread1 : public CbThread<Thread1> {
public:
    Thread1(Test& test, CbSmartPointer<KaCTransformationNodeInner> father1,
            CbSmartPointer<KaCTransformationNodeInner> father2)
        : CbThread<Thread1>("TestThread1")
        , m_test(test)
        , m_father1(std::move(father1))
        , m_father2(std::move(father2)) {}

    void Run() {
        Manager& manager = Manager::GetInstance();
        Manager::WriteHandle handle1 = manager.GetWriteHandle(m_father1);
        Manager::WriteHandle handle2 = manager.GetWriteHandle(m_father2);
        m_test.Write(Test::eMessageProgress, "WriteHandles instantiated for for %s and %s",
                     m_father1->GetDescription().c_str(), m_father2->GetDescription().c_str());
        waitForStep(g_stepB);
        try {
            manager.Lock();
            m_test.Write(Test::eMessageProgress, "WriteHandles granted for for %s and %s",
                         m_father1->GetDescription().c_str(), m_father2->GetDescription().c_str());
        } catch (const CbException&) {
            m_test.Write(Test::eMessageError, "Call to Lock() failed with an exception!");
            m_test.SetError();
        }
        waitForStep(g_stepD);
        CbSmartPointer<KaCTransformationNode> child = m_father1->FrontChild();
        manager.MoveNode(m_father2, child, nullptr);
        m_test.Write(Test::eMessageProgress, "Node %s moved from %s to %s", descriptionOf(child),
                     m_father1->GetDescription().c_str(), m_father2->GetDescription().c_str());
        CbSmartPointer<KaCTransformationNode> father = child ? child->GetFather() : nullptr;
        if (father != m_father2) {
            m_test.Write(Test::eMessageError, "Node %s has wrong father. Should be %s but is %s",
                         descriptionOf(child), m_father2->GetDescription().c_str(),
                         descriptionOf(father));
            m_test.SetError();
        }
    }

private:
    Test& m_test;
    CbSmartPointer<KaCTransformationNodeInner> m_father1;
    CbSmartPointer<KaCTransformationNodeInner> m_father2;
};

// Waits for read access to the child while the other thread moves it.
class Thread2 : public CbThread<Thread2> {
public:
    Thread2(Test& test, CbSmartPointer<KaCTransformationNode> child)
        : CbThread<Thread2>("TestThread2"), m_test(test), m_child(std::move(child)) {}

    void Run() {
        Manager& manager = Manager::GetInstance();
        waitForStep(g_stepA);
        Manager::ReadHandle handle = manager.GetReadHandle(m_child);
        m_test.Write(Test::eMessageProgress, "ReadHandle instantiated for %s (father=%s)",
                     m_child->GetDescription().c_str(), descriptionOf(m_child->GetFather()));
        waitForStep(g_stepC);
        try {
            manager.Lock();
            m_test.Write(Test::eMessageProgress, "Call to Lock() succeeded");
        } catch (const CbException&) {
            m_test.Write(Test::eMessageProgress, "Lock() attemt failed with an exception.");
            m_test.SetError();
        }
        m_test.Write(Test::eMessageProgress, "ReadLock granted for %s(father=%s)",
                     m_child->GetDescription().c_str(), descriptionOf(m_child->GetFather()));
        if (!handle.IsGranted()) {
            m_test.SetError();
        }
    }

private:
    Test& m_test;
    CbSmartPointer<KaCTransformationNode> m_child;
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
    for (CbEvent* event : {&g_stepA, &g_stepB, &g_stepC, &g_stepD, &g_acknowledge}) {
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
        for (CbEvent* step : {&g_stepA, &g_stepB, &g_stepC, &g_stepD}) {
            step->Set();
            CbEvent::WaitForSingleEvent(g_acknowledge, CbEvent::c_infinite);
            g_acknowledge.Reset();
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
    if (boundHere) {
        manager.UnsetDataManager();
    }
    return m_error ? eResultFailed : eResultSucceeded;
}
