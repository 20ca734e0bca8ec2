#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/harbor/CbReferenceCounted.h"
#include "platform/harbor/IExtendable.h"
#include "platform/harbor/IObject.h"

class CbStreamWriteBinary;
class CbStreamReadBinary;

// Base of the self-tests that the application's test runner executes. A test has a number
// of subtests, runs them one by one and reports progress and errors as messages, which the
// base collects (and a runner may read while the test runs).
//
// WriteMessage and GetMessages are thread-safe; the rest belongs to the runner's thread.
class CyUnitTest : public IExtendable, public IObject, public CbReferenceCounted {
public:
    enum EResult {
        eResultNotRun = 0,
        eResultSucceeded = 1,
        eResultFailed = 2,
    };
    enum EMessageType {
        eMessageProgress = 0,
        eMessageError = 1,
    };
    struct Message {
        EMessageType type;
        std::wstring text;
    };

    ~CyUnitTest() override = default;

    // No extensions: null, or CbExceptionUnknownExtension when `throwIfUnknown`.
    const IExtensionInterface* GetExtension(const char* name, bool throwIfUnknown) const override;
    IExtensionInterface* GetExtension(const char* name, bool throwIfUnknown) override;
    virtual void PreallocateStaticData() {}
    virtual EResult runUnitTest(unsigned int subtest, bool interactive) = 0;
    virtual unsigned int GetNrOfSubtests() const = 0;
    virtual const char* getSubtestName(unsigned int subtest) const = 0;
    virtual void serializeUnitTestInput(CbStreamWriteBinary&) const {}
    virtual void serializeUnitTestInput(CbStreamReadBinary&) {}
    virtual void serializeUnitTestOutput(CbStreamWriteBinary&) const {}
    virtual void serializeUnitTestOutput(CbStreamReadBinary&) {}
    virtual void releaseUnitTestInput() {}
    virtual void releaseUnitTestOutput() {}

    void WriteMessage(EMessageType type, const std::wstring& text);
    std::vector<Message> GetMessages() const;

protected:
    CyUnitTest() = default;

private:
    mutable std::mutex m_messagesLock;
    std::vector<Message> m_messages;
};
