#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/courier/KaCMessageTransformationChanged.h"
#include "platform/courier/KaCMessageTreeStructureModified.h"
#include "platform/tidewell/KaCMessageDispatcher.h"
#include "tests/support/MessageRecorder.h"

namespace {

CbSmartPointer<const CyMessage> structureMessage(const CbSmartPointer<CyNode>& node, int type) {
    return CbMakeShared<KaCMessageTreeStructureModified>(
        node, nullptr, static_cast<KaCMessageTreeStructureModified::EModificationType>(type));
}

}  // namespace

TEST(KaCMessageDispatcher, DeliversInOrderToCurrentSubscribersWithTheLocation) {
    auto node = CbMakeShared<CyNode>();
    std::vector<std::wstring> seen;
    auto id = KaCMessageDispatcher::Subscribe([&](const wchar_t* file, unsigned int line,
                                                  const wchar_t* function,
                                                  const CbSmartPointer<const CyMessage>& m) {
        seen.push_back(
            std::wstring(file) + L":" + std::to_wstring(line) + L":" + function + L":" +
            std::to_wstring(
                CbDynamicCast<const KaCMessageTreeStructureModified>(m)->GetModificationType()));
    });
    {
        MessageRecorder recorder;
        KaCMessageDispatcher::PostMessageW(L"a.cpp", 7, L"A::f", structureMessage(node, 1));
        KaCMessageDispatcher::PostMessageW(L"a.cpp", 8, L"A::g", structureMessage(node, 3));
        KaCMessageDispatcher::PostMessageW(L"a.cpp", 9, L"A::h", nullptr);
        auto entries = recorder.Take();
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].function, L"A::f");
        EXPECT_EQ(entries[1].function, L"A::g");
        EXPECT_EQ(
            CbDynamicCast<const KaCMessageTreeStructureModified>(entries[1].message)->GetNode(),
            node);
    }
    EXPECT_TRUE(KaCMessageDispatcher::Unsubscribe(id));
    EXPECT_FALSE(KaCMessageDispatcher::Unsubscribe(id));
    KaCMessageDispatcher::PostMessageW(L"a.cpp", 10, L"A::i", structureMessage(node, 2));
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"a.cpp:7:A::f:1", L"a.cpp:8:A::g:3"}));
}

TEST(KaCMessageDispatcher, SubscribersMayPostAndUnsubscribeWhileBeingCalled) {
    auto node = CbMakeShared<CyNode>();
    MessageRecorder recorder;
    KaCMessageDispatcher::SubscriptionId id = 0;
    id = KaCMessageDispatcher::Subscribe([&](const wchar_t*, unsigned int, const wchar_t* function,
                                             const CbSmartPointer<const CyMessage>&) {
        if (std::wstring(function) == L"outer") {
            KaCMessageDispatcher::Unsubscribe(id);
            KaCMessageDispatcher::PostMessageW(L"b.cpp", 1, L"inner", structureMessage(node, 2));
        }
    });
    KaCMessageDispatcher::PostMessageW(L"b.cpp", 1, L"outer", structureMessage(node, 1));
    KaCMessageDispatcher::PostMessageW(L"b.cpp", 2, L"after", structureMessage(node, 1));
    auto entries = recorder.Take();
    // The recorder subscribed first: it sees "outer", then the nested "inner", then "after".
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].function, L"outer");
    EXPECT_EQ(entries[1].function, L"inner");
    EXPECT_EQ(entries[2].function, L"after");
}

TEST(KaCMessageDispatcher, ConcurrentPostersKeepTheirOwnOrder) {
    constexpr int c_threads = 4;
    constexpr int c_messages = 500;
    MessageRecorder recorder;
    std::vector<CbSmartPointer<CyNode>> nodes;
    for (int t = 0; t < c_threads; ++t) {
        nodes.push_back(CbMakeShared<CyNode>());
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < c_messages; ++i) {
                CbMatrix4Rf trafo;
                trafo[0] = static_cast<float>(i);
                KaCMessageDispatcher::PostMessageW(
                    L"c.cpp", 1, L"post",
                    CbMakeShared<KaCMessageTransformationChanged>(nodes[t], trafo));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<int> next(c_threads, 0);
    auto entries = recorder.Take();
    ASSERT_EQ(entries.size(), static_cast<size_t>(c_threads * c_messages));
    for (const auto& entry : entries) {
        auto message = CbDynamicCast<const KaCMessageTransformationChanged>(entry.message);
        int t = 0;
        while (nodes[t] != message->GetNode()) {
            ++t;
        }
        EXPECT_EQ(message->GetTrafo()[0], static_cast<float>(next[t]++));
    }
}
