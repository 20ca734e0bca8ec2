#pragma once

#include <cstdint>
#include <string>

// `ttree demo`: simulates a scan session on the built-in dental arch, builds the tree the
// way an application does, and reports what it did.
class DemoCommand {
public:
    struct Options {
        uint32_t scans = 60;
        std::string outputDirectory = "ttree-demo";
    };

    // The process exit code.
    static int Run(const Options& options);
};
