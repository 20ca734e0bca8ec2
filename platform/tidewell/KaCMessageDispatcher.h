#pragma once

#include <cstdint>
#include <functional>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/lattice/CyMessage.h"

// The application's message dispatcher: code that changes shared data posts messages, and
// subscribers receive every posted message, with the posting code location, in the order
// the messages were posted by each thread.
//
// Delivery is synchronous, on the posting thread, to the subscribers registered when the
// message is posted, in the order they subscribed. No lock of the dispatcher is held while
// a subscriber runs, so subscribers may post, subscribe and unsubscribe. Thread-safe.
class KaCMessageDispatcher {
public:
    using Subscriber =
        std::function<void(const wchar_t* file, unsigned int line, const wchar_t* function,
                           const CbSmartPointer<const CyMessage>& message)>;
    using SubscriptionId = uint64_t;

    // Posts `message` (a null message is ignored). `file`, `line` and `function` name the
    // posting code location.
    static void PostMessageW(const wchar_t* file, unsigned int line, const wchar_t* function,
                             CbSmartPointer<const CyMessage> message);

    static SubscriptionId Subscribe(Subscriber subscriber);
    // Returns false when `id` is not subscribed.
    static bool Unsubscribe(SubscriptionId id);
};

// Posts a message from the current source location.
#define KA_POST_MESSAGE(function, message) \
    KaCMessageDispatcher::PostMessageW(L"" __FILE__, __LINE__, function, message)
