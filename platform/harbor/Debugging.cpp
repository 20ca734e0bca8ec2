#include "platform/harbor/Debugging.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/harbor/CbStringConversion.h"

namespace Debugging {
namespace {

std::string describeFrame(void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0) {
        return "??";
    }
    std::string function = "??";
    if (info.dli_sname != nullptr) {
        int status = 0;
        char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
        function = status == 0 && demangled != nullptr ? demangled : info.dli_sname;
        std::free(demangled);
    }
    std::string module = info.dli_fname != nullptr ? info.dli_fname : "??";
    size_t slash = module.rfind('/');
    if (slash != std::string::npos) {
        module = module.substr(slash + 1);
    }
    return function + " (" + module + ")";
}

}  // namespace

void GetCallStack(std::wstring& text, int depth) {
    if (depth <= 0) {
        return;
    }
    // A few frames more for the walk itself: this function and, in sanitizer builds, an
    // interceptor around backtrace. The text starts after this function's own frame.
    constexpr int c_walkFrames = 4;
    std::vector<void*> frames(static_cast<size_t>(depth) + c_walkFrames);
    int count = backtrace(frames.data(), static_cast<int>(frames.size()));
    int first = 1;
    for (int i = 0; i < count && i < c_walkFrames; ++i) {
        Dl_info info{};
        if (dladdr(frames[static_cast<size_t>(i)], &info) != 0 &&
            info.dli_saddr == reinterpret_cast<void*>(&GetCallStack)) {
            first = i + 1;
            break;
        }
    }
    int last = count - first < depth ? count : first + depth;
    for (int i = first; i < last; ++i) {
        text += L"  #" + std::to_wstring(i - first + 1) + L" " +
                CbFromUtf8(describeFrame(frames[static_cast<size_t>(i)]));
        if (i + 1 < last) {
            text += L"\n";
        }
    }
}

}  // namespace Debugging
