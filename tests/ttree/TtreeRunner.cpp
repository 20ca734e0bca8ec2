#include "tests/ttree/TtreeRunner.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

TtreeRunner::Result TtreeRunner::Run(const std::string& arguments) {
    return RunShell(std::string(TTREE_PROGRAM) + " " + arguments);
}

TtreeRunner::Result TtreeRunner::RunShell(const std::string& commandLine) {
    const std::string command = commandLine + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    Result result{-1, ""};
    if (pipe == nullptr) {
        return result;
    }
    std::array<char, 4096> buffer;
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        result.output.append(buffer.data(), read);
    }
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
