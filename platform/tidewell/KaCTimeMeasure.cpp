#include "platform/tidewell/KaCTimeMeasure.h"

KaCTimeMeasure::KaCTimeMeasure(double startOffsetSeconds)
    : m_startOffset(startOffsetSeconds), m_start(Clock::now()), m_previous(m_start) {}

double KaCTimeMeasure::toSeconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double KaCTimeMeasure::GetTimer() {
    const Clock::time_point now = Clock::now();
    m_previous = now;
    return m_startOffset + toSeconds(now - m_start);
}

double KaCTimeMeasure::GetTimerDiff() {
    const Clock::time_point now = Clock::now();
    const Clock::duration diff = now - m_previous;
    m_previous = now;
    return toSeconds(diff);
}
