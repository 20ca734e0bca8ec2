#pragma once

#include <chrono>

// A stopwatch on the monotonic clock (std::chrono::steady_clock), running from construction.
// GetTimer() reports the time since the start, GetTimerDiff() the time since the previous
// call of either (or since the start, for the first call); both in seconds, as double.
// Not synchronised: one owner calls it at a time (callers that share one take their own
// lock). Throws nothing.
class KaCTimeMeasure {
public:
    // `startOffsetSeconds` is added to every GetTimer() result: the watch reads as if it
    // had been started that many seconds before construction (0 starts it at zero).
    explicit KaCTimeMeasure(double startOffsetSeconds = 0.0);

    // Seconds since the start, plus the start offset.
    double GetTimer();
    // Seconds since the previous GetTimer() or GetTimerDiff() call, or since the start.
    double GetTimerDiff();

private:
    using Clock = std::chrono::steady_clock;

    static double toSeconds(Clock::duration duration);

    double m_startOffset;
    Clock::time_point m_start;
    Clock::time_point m_previous;
};
