#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "tools/ttree/DemoCommand.h"

int main(int argc, char** argv) {
    CLI::App app{"ttree: build, inspect and convert scan sessions kept as transformation trees"};
    app.require_subcommand(1);

    DemoCommand::Options demo;
    CLI::App* demoCommand =
        app.add_subcommand("demo", "Simulate a scan session on a built-in dental arch");
    demoCommand->add_option("--scans", demo.scans, "Number of scans")->check(CLI::Range(1, 100000));
    demoCommand->add_option("--out", demo.outputDirectory, "Folder for the files the demo writes");

    CLI11_PARSE(app, argc, argv);
    try {
        if (demoCommand->parsed()) {
            return DemoCommand::Run(demo);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ttree: %s\n", error.what());
        return 1;
    }
    return 0;
}
