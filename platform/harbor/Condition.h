#pragma once

#include <functional>

// What happens when a checked condition does not hold. The project checks conditions
// that point to a programming error (a CbCheckReturn dropped unexamined, a violated
// precondition that is cheap to test) through this one place, so that a test can
// observe them and a program decides whether they abort.
namespace Condition {

enum EHandling {
    eAssert = 0,  // report and, with the default handler, abort
    eReport = 1,  // report only
};

using Handler =
    std::function<void(const char* file, int line, const char* expression, EHandling handling)>;

// Reports the failed condition to the installed handler. The default handler writes one
// line to standard error and aborts for eAssert.
void HandleUnfulfilledCondition(const char* file, int line, const char* expression,
                                EHandling handling);

// Installs a handler and returns the previous one; an empty handler restores the default.
Handler SetHandler(Handler handler);

}  // namespace Condition

#define CB_CHECK_CONDITION(expression)                                             \
    do {                                                                           \
        if (!(expression)) {                                                       \
            Condition::HandleUnfulfilledCondition(__FILE__, __LINE__, #expression, \
                                                  Condition::eAssert);             \
        }                                                                          \
    } while (false)
