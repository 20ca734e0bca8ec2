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
    // One frame for this function itself.
    std::vector<void*> frames(static_cast<size_t>(depth) + 1);
    int count = backtrace(frames.data(), static_cast<int>(frames.size()));
    for (int i = 1; i < count; ++i) {
        text += L"  #" + std::to_wstring(i) + L" " + CbFromUtf8(describeFrame(frames[static_cast<size_t>(i)]));
        if (i + 1 < count) {
            text += L"\n";
        }
    }
}

}  // namespace Debugging
