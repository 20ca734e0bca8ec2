#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "platform/harbor/CbException.h"
#include "tools/ttree/DemoCommand.h"
#include "tools/ttree/ImportCommand.h"
#include "tools/ttree/Progress.h"
#include "tools/ttree/SessionCommands.h"
#include "tools/ttree/TreeCommand.h"
#include "tools/ttree/ViewCommand.h"

namespace {

bool isCommand(const CLI::App& app, const std::string& name) {
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->check_name(name)) {
            return true;
        }
    }
    return false;
}

// Parses the command line; a usage error exits with status 2 after CLI11's message, which
// names the unknown command or option.
std::optional<int> parse(CLI::App& app, int argc, char** argv) {
    if (argc > 1 && argv[1][0] != '-' && !isCommand(app, argv[1])) {
        std::fprintf(stderr, "ttree: unknown command '%s'\nRun with --help for more information.\n",
                     argv[1]);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    return std::nullopt;
}

// Faults the user sees: the message alone, with the source location only for --verbose.
int report(const std::exception& error, bool verbose) {
    const auto* fault = dynamic_cast<const CbException*>(&error);
    std::fprintf(stderr, "ttree: %s\n",
                 fault && !verbose ? fault->GetMessage().c_str() : error.what());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "ttree: build, inspect and convert scan sessions kept as transformation trees. "
        "Lengths are in millimetres."};
    app.require_subcommand(1);
    app.fallthrough();
    app.option_defaults()->always_capture_default();
    app.set_version_flag("--version", std::string("ttree ") + TTREE_VERSION);
    bool verbose = false;
    app.add_flag("--verbose", verbose, "Error messages name the source location that failed");
    bool quiet = false;
    app.add_flag("--quiet", quiet,
                 "No progress bar (it is drawn only when standard error is a terminal), and no "
                 "report of the page `view` wrote");

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
    importCommand
        ->add_option("--threads", import.threads,
                     "Threads that read scans and build models (0: one per core)")
        ->check(CLI::Range(0, 1024));
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
    TreeCommand::Options tree;
    CLI::App* treeCommand =
        app.add_subcommand("tree", "The tree of a session, one node a line, or as JSON");
    treeCommand->alias("ls");
    treeCommand->add_option("FILE", tree.file, "Session file")->required();
    treeCommand->add_option("--depth", tree.depth, "Deepest level shown, the root being 0")
        ->default_str("every level");
    treeCommand->add_flag("--json", tree.json, "One JSON document of nested objects");
    CLI::App* verifyCommand =
        app.add_subcommand("verify", "Read everything, check checksums and consistency");
    verifyCommand->add_option("FILE", file, "Session file")->required();
    CLI::App* exportCommand =
        app.add_subcommand("export", "Write the model of a node's subtree as PLY");
    exportCommand->add_option("FILE", file, "Session file")->required();
    exportCommand->add_option("-o,--output", output, "PLY file to write")->required();
    exportCommand->add_option("--node", node,
                              "ID of the node as `ttree tree` shows it, braces optional "
                              "(default: the root)");
    std::string frame = "session";
    exportCommand
        ->add_option("--frame", frame,
                     "Coordinates: session (the root's frame) or local (the node's own frame)")
        ->check(CLI::IsMember({"session", "local"}))
        ->capture_default_str();
    exportCommand->add_option("--cell", cellSize, "Grid cell in mm (0: every surfel, merged)")
        ->check(CLI::Range(0.0f, 1000.0f));
    CLI::App* renderCommand =
        app.add_subcommand("render", "Write a preview image of a node's subtree as PNG");
    renderCommand->add_option("FILE", file, "Session file")->required();
    renderCommand->add_option("-o,--output", output, "PNG file to write")->required();
    renderCommand->add_option("--node", node,
                              "ID of the node as `ttree tree` shows it, braces optional "
                              "(default: the root); drawn in its own frame");
    renderCommand->add_option("--width", width, "Image width in pixels")
        ->check(CLI::Range(1, 16384));
    renderCommand->add_option("--height", height, "Image height in pixels")
        ->check(CLI::Range(1, 16384));
    ViewCommand::Options view;
    CLI::App* viewCommand = app.add_subcommand(
        "view", "Write a self-contained HTML page showing the session in 3-D with its tree");
    viewCommand->add_option("FILE", view.file, "Session file")->required();
    viewCommand->add_option("-o,--output", view.output, "HTML file to write")->required();
    viewCommand->add_option("--node", view.node,
                            "ID of the node as `ttree tree` shows it, braces optional "
                            "(default: the root); shown in the session frame");
    viewCommand
        ->add_option("--cell", view.cellSize,
                     "Grid cell in mm the scans and models are thinned out on (0: full "
                     "resolution while the points fit in --max-points, else the smallest "
                     "cell that fits)")
        ->check(CLI::Range(0.0f, 1000.0f));
    viewCommand
        ->add_option("--max-points", view.maxPoints,
                     "Most points the page carries before it is thinned out (at least " +
                         std::to_string(ViewCommand::c_minimumMaxPoints) + ")")
        ->check(CLI::NonNegativeNumber);
    viewCommand->footer(
        "The page needs no server and no network: open it in a browser with WebGL. Drag to "
        "orbit, right-drag to pan, wheel to zoom; the panel lists the tree. Open it as "
        "VIEW.html#hide=ID,ID to start with those nodes hidden.");

    if (std::optional<int> code = parse(app, argc, argv)) {
        return *code;
    }
    Progress::SetQuiet(quiet);
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
        if (treeCommand->parsed()) {
            return TreeCommand::Run(tree);
        }
        if (verifyCommand->parsed()) {
            return SessionCommands::Verify(file);
        }
        if (exportCommand->parsed()) {
            return SessionCommands::Export(
                file, output, node, cellSize,
                frame == "local" ? SessionCommands::eNodeFrame : SessionCommands::eSessionFrame);
        }
        if (renderCommand->parsed()) {
            return SessionCommands::Render(file, output, node, width, height);
        }
        if (viewCommand->parsed()) {
            view.quiet = quiet;
            return ViewCommand::Run(view);
        }
    } catch (const std::exception& error) {
        return report(error, verbose);
    }
    return 0;
}
