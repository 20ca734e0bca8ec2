// Threads that update one attribute at once lose no update and see no torn state.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "tests/transformationtree/attributes/AttributeTestSupport.h"
#include "transformationtree/attributes/KaCImageAreaDataAttribute.h"
#include "transformationtree/attributes/KaCRegistrationEffortLoggingAttribute.h"
#include "transformationtree/attributes/KaCRegistrationHintsAttribute.h"

namespace {
constexpr int c_threads = 4;
constexpr int c_iterations = 500;

// Runs `work(thread)` on c_threads threads that start together.
template <class Work>
void runTogether(Work work) {
    std::latch start(c_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < c_threads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            work(t);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

size_t occurrences(const std::wstring& text, const std::wstring& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}
}  // namespace

TEST(AttributeThreads, EffortLoggingFromManyThreadsLosesNoUpdate) {
    KaCRegistrationEffortLoggingAttribute effort;
    runTogether([&](int t) {
        const std::wstring name = L"thread" + std::to_wstring(t);
        for (int i = 0; i < c_iterations; ++i) {
            effort.AccumulateResultEfforts(t % 2 == 0 ? 2 : 4, 0.5, 3);
            effort.AddTimeStamp(name);
            effort.AddSubTaskDuration(L"shared", 0.25);
            effort.AddSubTaskDuration(name, 1.0);
            effort.SetMaxNewtonError(static_cast<double>(i));
            effort.GetAccumulatedICPFailureTime();
            effort.GetSubTaskDurationLog();
        }
    });

    const unsigned int perCode = c_threads / 2 * c_iterations;
    EXPECT_EQ(perCode, effort.GetAccumulatedICPSuccessNumRuns());
    EXPECT_EQ(3 * perCode, effort.GetAccumulatedICPSuccessNumIterations());
    EXPECT_EQ(0.5 * perCode, effort.GetAccumulatedICPSuccessTime());
    EXPECT_EQ(perCode, effort.GetAccumulatedICPFailureNumRuns());
    EXPECT_EQ(static_cast<double>(c_iterations - 1), effort.GetMaxNewtonError());
    const std::wstring log = effort.GetTimeStampLog();
    const CbMap<std::wstring, double> durations = effort.GetSubTaskDurationLog();
    EXPECT_EQ(static_cast<size_t>(c_threads * c_iterations), occurrences(log, L"\n@") + 1);
    EXPECT_EQ(0.25 * c_threads * c_iterations, *durations.Find(L"shared"));
    for (int t = 0; t < c_threads; ++t) {
        const std::wstring name = L"thread" + std::to_wstring(t);
        EXPECT_EQ(static_cast<size_t>(c_iterations), occurrences(log, L") " + name + L"\n"));
        EXPECT_EQ(1.0 * c_iterations, *durations.Find(name));
    }
}

TEST(AttributeThreads, TaskCounterAndCollectionSwapsUnderTheirLocks) {
    KaCImageAreaDataAttribute area;
    KaCRegistrationHintsAttribute hints;
    runTogether([&](int t) {
        for (int i = 0; i < c_iterations; ++i) {
            area.IncrementEnqueuedAreaCorrelationTasks();
            if (i % 2 == 1) {
                area.DecrementEnqueuedAreaCorrelationTasks();
            }
            area.ToString();
            if (i % 50 == 0 && t == 0) {
                hints.SetRegistrationHintSurfelCollection(AttributeTestSupport::MakeCollection(2));
            } else if (i % 50 == 0) {
                // A record is written whole under the lock, so it reads back completely.
                KaCRegistrationHintsAttribute copy;
                EXPECT_EQ(0u, AttributeTestSupport::Read(copy, AttributeTestSupport::Write(hints)));
            }
        }
    });
    EXPECT_EQ(static_cast<unsigned int>(c_threads * c_iterations / 2),
              area.GetNumEnqueuedAreaCorrelationTasks());
}
