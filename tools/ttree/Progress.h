#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// A progress bar on standard error for long work ("import  [#####-----]  12/24 scans
// 3.1/s"), redrawn in place at most ten times a second. It draws only when standard error
// is a terminal and progress is not switched off (--quiet), so scripts and logs never see
// it; the line is cleared when the work ends. Not thread-safe: one command, one thread.
class Progress {
public:
    Progress(std::string label, uint64_t total, const char* unit);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // One more unit done.
    void Step();

    // Whether bars are drawn at all: set once from the command line.
    static void SetQuiet(bool quiet) { ms_quiet = quiet; }
    // True when a bar would be drawn on this process's standard error.
    static bool Shown();

private:
    void draw();

    std::string m_label;
    uint64_t m_total;
    uint64_t m_done = 0;
    const char* m_unit;
    bool m_shown;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDrawn;
    static bool ms_quiet;
};
