#pragma once

#include <string>

// Runs the ttree program as a user would, from a shell, for the end-to-end tests.
class TtreeRunner {
public:
    struct Result {
        int exitCode;
        std::string output;  // standard output and standard error together
    };

    // `arguments` go to the shell as they are; quote what needs it.
    static Result Run(const std::string& arguments);
    // Runs a whole shell command line (for running the program through another one).
    static Result RunShell(const std::string& commandLine);
};
