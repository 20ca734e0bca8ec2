#pragma once

#include <cstdint>
#include <string>

// Small pieces of the text the ttree commands print.
class Wording {
public:
    // "1 scan", "2 scans", "0 scans".
    static std::string Count(uint64_t count, const char* singular, const char* plural);
    // The shortest decimal form that reads back as `value`: "0.3", "2", "1e-05".
    static std::string Number(float value);
};
