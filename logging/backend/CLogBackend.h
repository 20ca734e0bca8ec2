#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logging/SourceLocation.h"

namespace Logging::Backend {

// The state behind the back end's entry points: the minimum level, the output (standard
// error or a file) and the diagnostics context items shown on every line.
// Thread safety: all operations may be called concurrently; lines are written whole under
// one lock and the level check reads an atomic without locking.
// Throws: Write and SetGlobalDiagnosticsContext may throw std::bad_alloc; nothing else.
class CLogBackend {
public:
    static constexpr int c_defaultMinimumLevel = 3;
    static constexpr int c_levelOff = 6;

    // The instance of this loaded library, configured on first use from the environment:
    // NLOGC_LEVEL (minimum level, number or name) and NLOGC_FILE (file to append to). It is
    // never destroyed, so lines written from other libraries' static destructors still go out.
    static CLogBackend& GetInstance();

    // A level number ("3") or name ("warn", "Warning", "off"; case is ignored), or
    // `fallback` when `text` is neither.
    static int ParseLevel(std::string_view text, int fallback);

    CLogBackend(const CLogBackend&) = delete;
    CLogBackend& operator=(const CLogBackend&) = delete;

    bool IsEnabled(int level) const;
    void Write(int level, const wchar_t* loggerName, const SourceLocation* location,
               const wchar_t* format, va_list arguments);
    void SetGlobalDiagnosticsContext(const wchar_t* item, const wchar_t* value);
    void Flush();

private:
    CLogBackend(int minimumLevel, const char* filePath);

    // Both expect m_mutex to be held.
    void openOutput(const std::string& path);
    std::FILE* output() const { return m_file != nullptr ? m_file : stderr; }

    std::atomic<int> m_minimumLevel;
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;                                 // null: standard error
    std::vector<std::pair<std::string, std::string>> m_context;  // UTF-8, in insertion order
};

}  // namespace Logging::Backend
