#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "tools/ttree/DemoCommand.h"
#include "tools/ttree/ImportCommand.h"
#include "tools/ttree/SessionCommands.h"

int main(int argc, char** argv) {
    CLI::App app{"ttree: build, inspect and convert scan sessions kept as transformation trees"};
    app.require_subcommand(1);

    DemoCommand::Options demo;
    CLI::App* demoCommand =
        app.add_subcommand("demo", "Simulate a scan session on a built-in dental arch");
    demoCommand->add_option("--scans", demo.scans, "Number of scans")->check(CLI::Range(1, 100000));
    demoCommand->add_option("--tracking", demo.scansPerTracking,
                            "Scans after which tracking is lost (0: never)");
    demoCommand->add_option("--out", demo.outputDirectory, "Folder for the files the demo writes");

    ImportCommand::Options import;
    CLI::App* importCommand =
        app.add_subcommand("import", "Build a session from PLY scans and DIR/poses.txt");
    importCommand->add_option("DIR", import.directory, "Folder with the scans and poses.txt")
        ->required();
    importCommand->add_option("-o,--output", import.output, "Session file to write")->required();
    importCommand->add_option("--max-children", import.maxChildren, "Largest fan-out of the tree")
        ->check(CLI::Range(2, 1000000));
    importCommand
        ->add_option("--cell", import.cellSize,
                     "Grid cell of the inner nodes' models in mm (0: merge)")
        ->check(CLI::Range(0.0f, 1000.0f));
    importCommand
        ->add_option("--pose-convention", import.poseConvention,
                     "How poses.txt writes the poses: row (p' = p M) or column (p' = M p)")
        ->check(CLI::IsMember({"row", "column"}));
    importCommand->add_flag("--drop-invalid", import.dropInvalid,
                            "Leave out vertices whose position or normal is not finite");
    importCommand->add_flag("--skip-duplicates", import.skipDuplicates,
                            "Warn about scans listed again in poses.txt and leave those lines out");
    importCommand->footer(ImportCommand::HelpText());

    std::string file;
    std::string output;
    std::string node;
    float cellSize = 0.0f;
    uint32_t width = 800;
    uint32_t height = 600;
    CLI::App* infoCommand =
        app.add_subcommand("info", "Counts, extent, revisions, models and clusters of a session");
    infoCommand->add_option("FILE", file, "Session file")->required();
    CLI::App* dumpCommand = app.add_subcommand("dump", "The tree of a session as indented text");
    dumpCommand->add_option("FILE", file, "Session file")->required();
    CLI::App* verifyCommand =
        app.add_subcommand("verify", "Read everything, check checksums and consistency");
    verifyCommand->add_option("FILE", file, "Session file")->required();
    CLI::App* exportCommand =
        app.add_subcommand("export", "Write the model of a node's subtree as PLY");
    exportCommand->add_option("FILE", file, "Session file")->required();
    exportCommand->add_option("-o,--output", output, "PLY file to write")->required();
    exportCommand->add_option("--node", node, "ID of the node (default: the root)");
    exportCommand->add_option("--cell", cellSize, "Grid cell in mm (0: all surfels merged)")
        ->check(CLI::Range(0.0f, 1000.0f));
    CLI::App* renderCommand =
        app.add_subcommand("render", "Write a preview image of a node's subtree as PNG");
    renderCommand->add_option("FILE", file, "Session file")->required();
    renderCommand->add_option("-o,--output", output, "PNG file to write")->required();
    renderCommand->add_option("--node", node, "ID of the node (default: the root)");
    renderCommand->add_option("--width", width, "Image width")->check(CLI::Range(1, 16384));
    renderCommand->add_option("--height", height, "Image height")->check(CLI::Range(1, 16384));

    CLI11_PARSE(app, argc, argv);
    try {
        if (demoCommand->parsed()) {
            return DemoCommand::Run(demo);
        }
        if (importCommand->parsed()) {
            return ImportCommand::Run(import);
        }
        if (infoCommand->parsed()) {
            return SessionCommands::Info(file);
        }
        if (dumpCommand->parsed()) {
            return SessionCommands::Dump(file);
        }
        if (verifyCommand->parsed()) {
            return SessionCommands::Verify(file);
        }
        if (exportCommand->parsed()) {
            return SessionCommands::Export(file, output, node, cellSize);
        }
        if (renderCommand->parsed()) {
            return SessionCommands::Render(file, output, node, width, height);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ttree: %s\n", error.what());
        return 1;
    }
    return 0;
}
