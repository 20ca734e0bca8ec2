#pragma once

#include <atomic>

#include "platform/harbor/CbCriticalSection.h"
#include "platform/lattice/CyUnitTest.h"

// Self-test of the node manager's locking, run by the application's test runner. With
// three threads it checks that a thread holding write access to two fathers can move a
// node from one to the other while two other threads wait for read access to that node,
// and that the readers get their access afterwards and see the new father.
//
// It binds the node manager to the application's data manager and builds a small tree
// below it; when it ends it takes the tree out again and unbinds, so it can run again.
class KaCTransformationNodeManager_UnitTest : public CyUnitTest {
    CB_DECLARE_RTTI()

public:
    KaCTransformationNodeManager_UnitTest() = default;
    ~KaCTransformationNodeManager_UnitTest() override = default;

    // Runs the lock test whatever the arguments; eResultSucceeded (1) or eResultFailed (2).
    EResult runUnitTest(unsigned int subtest, bool interactive) override;
    unsigned int GetNrOfSubtests() const override { return 1; }
    const char* getSubtestName(unsigned int subtest) const override;

    // Formats `format` (wide "%s" arguments) and passes the line to the test's messages
    // and to the application log, one line at a time. Thread-safe.
    void Write(EMessageType type, const char* format, ...) const;
    void SetError() { m_error = true; }

private:
    CB_DECLARE_CREATE_FACTORY(KaCTransformationNodeManager_UnitTest)

    EResult runAirNodeTest();

    std::atomic<bool> m_error{false};
    mutable CbCriticalSection m_writeLock;
};
