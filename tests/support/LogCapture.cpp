#include "tests/support/LogCapture.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "logging/Dispatcher.h"

namespace {

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

LogCapture::LogCapture(int minimumLevel) {
    static std::atomic<int> counter{0};
    m_path = (std::filesystem::temp_directory_path() /
              ("tt-log-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log"))
                 .string();
    std::remove(m_path.c_str());
    Logging::ILogDispatcher& dispatcher = Logging::GetDispatcher();
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.File", widen(m_path).c_str());
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.MinLevel",
                                           std::to_wstring(minimumLevel).c_str());
}

LogCapture::~LogCapture() {
    Logging::ILogDispatcher& dispatcher = Logging::GetDispatcher();
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.MinLevel", L"3");
    dispatcher.SetGlobalDiagnosticsContext(L"NLogC.File", L"");
    std::remove(m_path.c_str());
}

std::vector<std::string> LogCapture::Lines() const {
    Logging::GetDispatcher().Flush(0);
    std::vector<std::string> lines;
    std::ifstream file(m_path);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LogCapture::LinesContaining(const std::string& text) const {
    std::vector<std::string> matching;
    for (const std::string& line : Lines()) {
        if (line.find(text) != std::string::npos) {
            matching.push_back(line);
        }
    }
    return matching;
}
