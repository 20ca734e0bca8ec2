#pragma once

#include <cstdint>

// A point in time, in microseconds since 1970-01-01 UTC. Default construction takes the
// current time.
class CbDateTime {
public:
    CbDateTime();
    explicit CbDateTime(int64_t microsecondsSinceEpoch) : m_microseconds(microsecondsSinceEpoch) {}

    int64_t GetMicrosecondsSinceEpoch() const { return m_microseconds; }
    int64_t GetSecondsSinceEpoch() const { return m_microseconds / 1000000; }

    bool operator==(const CbDateTime& other) const = default;

private:
    int64_t m_microseconds;
};
