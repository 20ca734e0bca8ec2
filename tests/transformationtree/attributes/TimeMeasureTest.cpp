#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/tidewell/KaCTimeMeasure.h"

// Only lower bounds of elapsed time are checked: a sleep lasts at least as long as asked.
TEST(KaCTimeMeasure, MeasuresElapsedTimeFromTheStartAndBetweenCalls) {
    KaCTimeMeasure measure(100.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double firstDiff = measure.GetTimerDiff();
    EXPECT_GE(firstDiff, 0.020);
    const double first = measure.GetTimer();
    EXPECT_GE(first, 100.0 + firstDiff);

    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double diff = measure.GetTimerDiff();  // taken from the GetTimer call
    EXPECT_GE(diff, 0.010);
    const double second = measure.GetTimer();
    EXPECT_GE(second - first, diff);

    // Differences never run backwards, and those taken between two readings of the total
    // add up to no more than the time between them.
    double sum = 0.0;
    for (int i = 0; i < 100; ++i) {
        const double step = measure.GetTimerDiff();
        EXPECT_GE(step, 0.0);
        sum += step;
    }
    const double third = measure.GetTimer();
    EXPECT_LE(sum, third - second + 1e-9);
}
