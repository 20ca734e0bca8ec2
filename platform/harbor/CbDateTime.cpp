#include "platform/harbor/CbDateTime.h"

#include <chrono>

CbDateTime::CbDateTime()
    : m_microseconds(std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count()) {}
