#pragma once

#include "platform/harbor/CbCriticalSection.h"

// Holds a critical section for its scope; Leave() releases it early.
class CbCriticalSectionAuto {
public:
    explicit CbCriticalSectionAuto(CbCriticalSection& section) : m_section(&section) {
        m_section->Enter();
    }
    ~CbCriticalSectionAuto() { Leave(); }
    CbCriticalSectionAuto(const CbCriticalSectionAuto&) = delete;
    CbCriticalSectionAuto& operator=(const CbCriticalSectionAuto&) = delete;

    void Leave() {
        if (m_section != nullptr) {
            m_section->Leave();
            m_section = nullptr;
        }
    }

private:
    CbCriticalSection* m_section;
};
