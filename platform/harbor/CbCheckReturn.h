#pragma once

#include <utility>

#include "platform/harbor/Condition.h"

// Policy of CbCheckReturn: a result that is dropped without being examined is reported as
// a failed condition with eAssert handling.
struct CbCheckReturnPolicyAssert {
    static void OnUnexamined() {
        Condition::HandleUnfulfilledCondition(
            __FILE__, __LINE__, "CbCheckReturn dropped without being examined", Condition::eAssert);
    }
};

// A result that its receiver must look at. Reading the value (conversion, Get) or calling
// MarkExamined counts as examining; a copy passes the duty on to the copy. The compiler
// warns about a discarded temporary, and the policy reports one that slipped through.
//
// Not thread-safe; a result belongs to the thread that received it.
template <class T, class Policy = CbCheckReturnPolicyAssert>
class [[nodiscard]] CbCheckReturn {
public:
    CbCheckReturn(T value) : m_value(std::move(value)) {}  // NOLINT: implicit by design
    CbCheckReturn(const CbCheckReturn& other) : m_value(other.m_value), m_examined(false) {
        other.m_examined = true;
    }
    CbCheckReturn& operator=(const CbCheckReturn& other) {
        if (this != &other) {
            checkExamined();
            m_value = other.m_value;
            m_examined = false;
            other.m_examined = true;
        }
        return *this;
    }
    ~CbCheckReturn() { checkExamined(); }

    operator T() const {  // NOLINT: implicit by design
        m_examined = true;
        return m_value;
    }
    const T& Get() const {
        m_examined = true;
        return m_value;
    }
    // Marks the result as examined without using it: the caller deliberately ignores it.
    void MarkExamined() const { m_examined = true; }

private:
    void checkExamined() const {
        if (!m_examined) {
            Policy::OnUnexamined();
        }
    }

    T m_value;
    mutable bool m_examined = false;
};
