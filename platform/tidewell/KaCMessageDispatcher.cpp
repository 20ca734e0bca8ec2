#include "platform/tidewell/KaCMessageDispatcher.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace {

struct Subscription {
    KaCMessageDispatcher::SubscriptionId id;
    std::shared_ptr<const KaCMessageDispatcher::Subscriber> subscriber;
};

struct Registry {
    std::mutex mutex;
    KaCMessageDispatcher::SubscriptionId nextId = 1;
    std::vector<Subscription> subscriptions;
};

Registry& registry() {
    // Never destroyed: messages may be posted during static destruction.
    static auto* instance = new Registry();
    return *instance;
}

}  // namespace

void KaCMessageDispatcher::PostMessageW(const wchar_t* file, unsigned int line,
                                        const wchar_t* function,
                                        CbSmartPointer<const CyMessage> message) {
    if (!message) {
        return;
    }
    std::vector<Subscription> subscriptions;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        subscriptions = r.subscriptions;
    }
    for (const Subscription& subscription : subscriptions) {
        (*subscription.subscriber)(file, line, function, message);
    }
}

KaCMessageDispatcher::SubscriptionId KaCMessageDispatcher::Subscribe(Subscriber subscriber) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    SubscriptionId id = r.nextId++;
    r.subscriptions.push_back({id, std::make_shared<const Subscriber>(std::move(subscriber))});
    return id;
}

bool KaCMessageDispatcher::Unsubscribe(SubscriptionId id) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = std::find_if(r.subscriptions.begin(), r.subscriptions.end(),
                           [id](const Subscription& s) { return s.id == id; });
    if (it == r.subscriptions.end()) {
        return false;
    }
    r.subscriptions.erase(it);
    return true;
}
