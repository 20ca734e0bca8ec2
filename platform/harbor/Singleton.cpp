#include "platform/harbor/Singleton.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace Singleton {
namespace {
std::atomic<int> g_count{0};
}

CbCriticalSection& GetCriticalSectionSingleton() {
    // Never destroyed: singletons are destroyed during static destruction and may ask for it.
    static auto* section = new CbCriticalSection();
    return *section;
}

void IncrementSingletonCounter(const char* /*typeName*/) {
    g_count.fetch_add(1);
}

void DecrementSingletonCounter(const char* /*typeName*/) {
    g_count.fetch_sub(1);
}

void Log(const char* text) {
    if (std::getenv("CB_SINGLETON_LOG") != nullptr) {
        std::fprintf(stderr, "singleton: %s (%d alive)\n", text, g_count.load());
    }
}

int GetSingletonCount() {
    return g_count.load();
}

}  // namespace Singleton
