#include "platform/harbor/Condition.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace Condition {
namespace {

std::mutex& handlerMutex() {
    static std::mutex mutex;
    return mutex;
}

Handler& installedHandler() {
    static Handler handler;
    return handler;
}

void defaultHandler(const char* file, int line, const char* expression, EHandling handling) {
    std::fprintf(stderr, "%s:%d: condition failed: %s\n", file, line, expression);
    if (handling == eAssert) {
        std::abort();
    }
}

}  // namespace

void HandleUnfulfilledCondition(const char* file, int line, const char* expression,
                                EHandling handling) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(handlerMutex());
        handler = installedHandler();
    }
    if (handler) {
        handler(file, line, expression, handling);
    } else {
        defaultHandler(file, line, expression, handling);
    }
}

Handler SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(handlerMutex());
    Handler previous = std::move(installedHandler());
    installedHandler() = std::move(handler);
    return previous;
}

}  // namespace Condition
