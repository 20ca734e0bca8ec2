#include "tools/ttree/Progress.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

bool Progress::ms_quiet = false;

namespace {
constexpr int c_barWidth = 30;
constexpr auto c_redrawInterval = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(std::string label, uint64_t total, const char* unit)
    : m_label(std::move(label))
    , m_total(total)
    , m_unit(unit)
    , m_shown(Shown())
    , m_start(std::chrono::steady_clock::now())
    , m_lastDrawn(m_start - c_redrawInterval) {}

Progress::~Progress() {
    if (m_shown) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
}

bool Progress::Shown() {
    return !ms_quiet && ::isatty(STDERR_FILENO) == 1;
}

void Progress::Step() {
    ++m_done;
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && (now - m_lastDrawn >= c_redrawInterval || m_done == m_total)) {
        m_lastDrawn = now;
        draw();
    }
}

void Progress::draw() {
    const int filled = m_total == 0 ? c_barWidth : static_cast<int>(c_barWidth * m_done / m_total);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    const double rate = seconds > 0.0 ? static_cast<double>(m_done) / seconds : 0.0;
    std::fprintf(stderr, "\r%s [%.*s%.*s] %llu/%llu %s %.1f/s\033[K", m_label.c_str(), filled,
                 "##############################", c_barWidth - filled,
                 "------------------------------", static_cast<unsigned long long>(m_done),
                 static_cast<unsigned long long>(m_total), m_unit, rate);
    std::fflush(stderr);
}
