#include "logging/Dispatcher.h"

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "logging/CNLogLogger.h"
#include "logging/CVoidLogger.h"

namespace Logging {

namespace {

constexpr int c_loadFlags = RTLD_NOW | RTLD_LOCAL;

// Any object of this library, to ask the loader where the library lives.
const char ms_locationMarker = 0;

// The folder this library was loaded from, with a trailing slash; empty when unknown.
std::string ownDirectory() {
    Dl_info info{};
    if (dladdr(&ms_locationMarker, &info) == 0 || info.dli_fname == nullptr) {
        return std::string();
    }
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Loads a library given by file name from this library's folder first, then wherever the
// loader finds it. The loader alone would search the run path of dlopen's caller, and
// tools that intercept dlopen (the address sanitizer) make that caller someone else.
void* loadLibrary(const char* libraryName) {
    if (std::strchr(libraryName, '/') == nullptr) {
        std::string directory = ownDirectory();
        if (!directory.empty()) {
            if (void* library = dlopen((directory + libraryName).c_str(), c_loadFlags)) {
                return library;
            }
        }
    }
    return dlopen(libraryName, c_loadFlags);
}

// Looks up `name` in `library` as a function of type `Function`; null when it is absent.
template <typename Function>
Function findEntryPoint(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

}  // namespace

std::unique_ptr<ILogDispatcher> SelectDispatcher(const char* libraryName) {
    // The handle is never closed: the entry points must outlive every dispatcher built on
    // them, and loading the same library again only raises its reference count.
    void* library = loadLibrary(libraryName);
    if (library == nullptr) {
        return std::make_unique<CVoidLogger>();
    }
    auto log = findEntryPoint<CNLogLogger::LogFunction>(library, "NLog_CSLogVW");
    auto isLogEnabled =
        findEntryPoint<CNLogLogger::IsLogEnabledFunction>(library, "NLog_IsLogEnabledW");
    auto setGlobalDiagnosticsContext =
        findEntryPoint<CNLogLogger::SetGlobalDiagnosticsContextFunction>(
            library, "NLog_SetGlobalDiagnosticsContextW");
    auto flush = findEntryPoint<CNLogLogger::FlushFunction>(library, "NLog_Flush");
    if (log == nullptr || isLogEnabled == nullptr || setGlobalDiagnosticsContext == nullptr ||
        flush == nullptr) {
        return std::make_unique<CVoidLogger>();
    }
    return std::make_unique<CNLogLogger>(log, isLogEnabled, setGlobalDiagnosticsContext, flush);
}

ILogDispatcher& GetDispatcher() {
    // Initialised exactly once, by the first caller; after that reading it takes no lock.
    static const std::unique_ptr<ILogDispatcher> ms_dispatcher =
        SelectDispatcher(c_backEndLibraryName);
    return *ms_dispatcher;
}

namespace {

// Makes the choice while the library is being loaded, before any of its users can log.
[[maybe_unused]] const ILogDispatcher& ms_dispatcherChosenAtLoad = GetDispatcher();

}  // namespace

}  // namespace Logging
