#include "tools/ttree/OutputFileName.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/harbor/CbException.h"

void OutputFileName::RequireExtension(const std::string& path, const std::string& extension,
                                      const std::string& what) {
    std::filesystem::path name(path);
    std::string actual = name.extension().string();
    std::transform(actual.begin(), actual.end(), actual.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (actual != extension) {
        CB_THROW(CbException,
                 "the output '" + path + "' does not end in " + extension + " (" + what + ")");
    }
}
