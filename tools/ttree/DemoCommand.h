#pragma once

#include <cstdint>
#include <string>

// `ttree demo`: simulates an intra-oral scan session on the built-in dental arch, builds
// the session tree the way an application does, writes the session file, reads it back
// and checks that it equals what was written, exports the merged model as PLY and a PNG
// preview, and prints a summary.
class DemoCommand {
public:
    struct Options {
        uint32_t scans = 60;
        uint32_t scansPerTracking = 20;  // the scanner loses tracking after this many scans
        std::string outputDirectory = "ttree-demo";
    };

    // The process exit code.
    static int Run(const Options& options);
};
