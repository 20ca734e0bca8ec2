#pragma once

#include <memory>

#include "logging/ILogDispatcher.h"

// Choosing the dispatcher that all loggers of the process write through.
namespace Logging {

// The back end's file name. It is looked for next to the logging library first.
inline constexpr const char* c_backEndLibraryName = "libNLogC.so";

// Loads `libraryName`, a bare file name from the logging library's own folder first, and
// looks up the four entry points of the back end in it; the library stays loaded for the
// life of the process. Returns a CNLogLogger holding the entry points when all four are
// there, otherwise a CVoidLogger. A missing library or entry point is not reported.
std::unique_ptr<ILogDispatcher> SelectDispatcher(const char* libraryName);

// The process-wide dispatcher: chosen from c_backEndLibraryName during the static
// initialisation of the logging library, never changed afterwards and alive until the
// process ends, so any thread may use it without locking.
ILogDispatcher& GetDispatcher();

}  // namespace Logging
