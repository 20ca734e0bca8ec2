#pragma once

#include <string>
#include <vector>

// Sends the log lines of the project's back end to a fresh file at the given minimum
// level while it lives, and reads them back; restores the default (warnings and worse,
// to standard error) when it goes. Requires the back end to be loaded, as it is in every
// test program that links the logging library from the build's library folder.
class LogCapture {
public:
    explicit LogCapture(int minimumLevel);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines written so far, in order.
    std::vector<std::string> Lines() const;
    // The lines that contain `text`.
    std::vector<std::string> LinesContaining(const std::string& text) const;

private:
    std::string m_path;
};
