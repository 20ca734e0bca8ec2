#include "platform/lattice/CyUnitTest.h"

#include "platform/harbor/CbExceptionUnknownExtension.h"

const IExtensionInterface* CyUnitTest::GetExtension(const char* /*name*/,
                                                    bool throwIfUnknown) const {
    if (throwIfUnknown) {
        CB_THROW(CbExceptionUnknownExtension);
    }
    return nullptr;
}

IExtensionInterface* CyUnitTest::GetExtension(const char* name, bool throwIfUnknown) {
    return const_cast<IExtensionInterface*>(
        static_cast<const CyUnitTest*>(this)->GetExtension(name, throwIfUnknown));
}

void CyUnitTest::WriteMessage(EMessageType type, const std::wstring& text) {
    std::lock_guard<std::mutex> lock(m_messagesLock);
    m_messages.push_back({type, text});
}

std::vector<CyUnitTest::Message> CyUnitTest::GetMessages() const {
    std::lock_guard<std::mutex> lock(m_messagesLock);
    return m_messages;
}
