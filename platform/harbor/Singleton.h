#pragma once

#include "platform/harbor/CbCriticalSection.h"

// Process-wide bookkeeping of the singletons: the lock under which they are created and
// a count of the live ones, reported when they are destroyed.
namespace Singleton {

CbCriticalSection& GetCriticalSectionSingleton();
void IncrementSingletonCounter(const char* typeName);
void DecrementSingletonCounter(const char* typeName);
// Writes one line about the singletons to standard error when the environment variable
// CB_SINGLETON_LOG is set; silent otherwise.
void Log(const char* text);
int GetSingletonCount();

}  // namespace Singleton
