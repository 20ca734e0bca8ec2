#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyMessage.h"
#include "platform/tidewell/KaCMessageDispatcher.h"

// Records every message posted while it lives, with the posting function's name.
class MessageRecorder {
public:
    struct Entry {
        std::wstring function;
        CbSmartPointer<const CyMessage> message;
    };

    MessageRecorder()
        : m_id(KaCMessageDispatcher::Subscribe(
              [this](const wchar_t*, unsigned int, const wchar_t* function,
                     const CbSmartPointer<const CyMessage>& message) {
                  std::lock_guard<std::mutex> lock(m_mutex);
                  m_entries.push_back({function ? function : L"", message});
              })) {}
    ~MessageRecorder() { KaCMessageDispatcher::Unsubscribe(m_id); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<Entry> Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Entry> entries;
        entries.swap(m_entries);
        return entries;
    }

private:
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
    KaCMessageDispatcher::SubscriptionId m_id;
};
