#include "logging/backend/CLogBackend.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <ctime>

#include "platform/harbor/CbDateTime.h"
#include "platform/harbor/CbFormat.h"
#include "platform/harbor/CbStringConversion.h"

namespace Logging::Backend {

namespace {

constexpr std::array<const char*, 6> c_levelNames = {"TRACE", "DEBUG", "INFO",
                                                     "WARN",  "ERROR", "FATAL"};
constexpr int c_firstFlushedLevel = 4;  // errors and fatal lines are written out at once

constexpr std::wstring_view c_minLevelItem = L"NLogC.MinLevel";
constexpr std::wstring_view c_fileItem = L"NLogC.File";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

// "2025-01-02T03:04:05.123456Z"
std::string formatTimestamp(const CbDateTime& time) {
    int64_t microseconds = time.GetMicrosecondsSinceEpoch();
    std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[96];  // ample for any field values, which keeps the compiler sure of it
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(microseconds % 1000000));
    return text;
}

}  // namespace

CLogBackend& CLogBackend::GetInstance() {
    static CLogBackend* const ms_instance = [] {
        const char* level = std::getenv("NLOGC_LEVEL");
        return new CLogBackend(ParseLevel(level != nullptr ? level : "", c_defaultMinimumLevel),
                               std::getenv("NLOGC_FILE"));
    }();
    return *ms_instance;
}

int CLogBackend::ParseLevel(std::string_view text, int fallback) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '0' + c_levelOff) {
        return text[0] - '0';
    }
    for (int level = 0; level < static_cast<int>(c_levelNames.size()); ++level) {
        if (equalsIgnoringCase(text, c_levelNames[static_cast<size_t>(level)])) {
            return level;
        }
    }
    if (equalsIgnoringCase(text, "warning")) {
        return 3;
    }
    if (equalsIgnoringCase(text, "off")) {
        return c_levelOff;
    }
    return fallback;
}

CLogBackend::CLogBackend(int minimumLevel, const char* filePath) : m_minimumLevel(minimumLevel) {
    if (filePath != nullptr) {
        openOutput(filePath);
    }
}

bool CLogBackend::IsEnabled(int level) const {
    return level >= m_minimumLevel.load(std::memory_order_relaxed) &&
           level < static_cast<int>(c_levelNames.size());
}

void CLogBackend::Write(int level, const wchar_t* loggerName, const SourceLocation* location,
                        const wchar_t* format, va_list arguments) {
    if (!IsEnabled(level)) {
        return;
    }
    // Everything but the context is put together before taking the lock.
    std::string line = formatTimestamp(CbDateTime());
    line += ' ';
    line += c_levelNames[static_cast<size_t>(level)];
    line += ' ';
    line += CbToUtf8(loggerName != nullptr ? loggerName : L"");
    if (location != nullptr) {
        line += ' ';
        line += location->function != nullptr ? location->function : "?";
        line += " (";
        line += location->file != nullptr ? location->file : "?";
        line += ':';
        line += std::to_string(location->line);
        line += ')';
    }
    std::string text = format != nullptr ? CbToUtf8(CbFormatVW(format, arguments)) : "";

    std::lock_guard lock(m_mutex);
    if (!m_context.empty()) {
        line += " [";
        for (size_t i = 0; i < m_context.size(); ++i) {
            line += i == 0 ? "" : " ";
            line += m_context[i].first + '=' + m_context[i].second;
        }
        line += ']';
    }
    line += ' ';
    line += text;
    line += '\n';
    std::FILE* out = output();
    std::fwrite(line.data(), 1, line.size(), out);
    if (level >= c_firstFlushedLevel) {
        std::fflush(out);
    }
}

void CLogBackend::SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value) {
    if (item == nullptr) {
        return;
    }
    std::string valueText = value != nullptr ? CbToUtf8(value) : std::string();
    if (item == c_minLevelItem) {
        int level = ParseLevel(valueText, -1);
        if (level >= 0) {
            m_minimumLevel.store(level, std::memory_order_relaxed);
        }
        return;
    }
    std::string itemText = CbToUtf8(item);
    std::lock_guard lock(m_mutex);
    if (item == c_fileItem) {
        openOutput(valueText);
        return;
    }
    auto found = std::find_if(m_context.begin(), m_context.end(),
                              [&](const auto& entry) { return entry.first == itemText; });
    if (valueText.empty()) {
        if (found != m_context.end()) {
            m_context.erase(found);
        }
    } else if (found != m_context.end()) {
        found->second = std::move(valueText);
    } else {
        m_context.emplace_back(std::move(itemText), std::move(valueText));
    }
}

void CLogBackend::Flush() {
    std::lock_guard lock(m_mutex);
    std::fflush(output());
}

void CLogBackend::openOutput(const std::string& path) {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    // A file that cannot be opened leaves the lines on standard error.
    if (!path.empty()) {
        m_file = std::fopen(path.c_str(), "a");
    }
}

}  // namespace Logging::Backend
