#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

// The result of running the ttree program.
struct TtreeRun {
    int exitCode;
    std::string output;  // standard output and standard error together
};

// Runs the program as a user would, from a shell, with `arguments` as typed.
inline TtreeRun runTtree(const std::string& arguments) {
    std::string command = std::string(TTREE_PROGRAM) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    TtreeRun run{-1, ""};
    if (pipe == nullptr) {
        return run;
    }
    std::array<char, 4096> buffer;
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.output.append(buffer.data(), read);
    }
    int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}
