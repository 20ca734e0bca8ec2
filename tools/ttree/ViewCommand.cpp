#include "tools/ttree/ViewCommand.h"

#include <cstdio>
#include <filesystem>

#include "platform/harbor/CbException.h"
#include "tools/ttree/HtmlViewWriter.h"
#include "tools/ttree/OutputFile.h"
#include "tools/ttree/OutputFileName.h"
#include "tools/ttree/Wording.h"
#include "transformationtree/persistence/KaCSessionFile.h"

int ViewCommand::Run(const Options& options) {
    OutputFile::RefuseInput(options.output, options.file);
    OutputFileName::RequireExtension(options.output, ".html", "an HTML page");
    if (options.maxPoints < c_minimumMaxPoints) {
        CB_THROW(CbException, "--max-points " + std::to_string(options.maxPoints) +
                                  " is too small: the view needs at least " +
                                  std::to_string(c_minimumMaxPoints));
    }
    KaCSessionFile::Contents session = KaCSessionFile::Read(options.file, false);
    ViewDocument::Options gather;
    gather.node = options.node;
    gather.cellSize = options.cellSize;
    gather.maxPoints = options.maxPoints;
    const ViewDocument document(session, gather);
    const std::string page =
        HtmlViewWriter::Write(document, std::filesystem::path(options.file).filename().string());
    OutputFile::Write(options.output, page);
    if (!options.quiet) {
        char size[64];
        std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(page.size()) / 1e6);
        std::string line =
            "wrote " + options.output + " (" + size +
            "): " + Wording::Count(document.GetPoints().GetCount(), "point", "points") + " (" +
            std::to_string(document.GetScanPoints()) + " of " +
            Wording::Count(document.GetScanCount(), "scan", "scans") + ", " +
            std::to_string(document.GetModelPoints()) + " of the inner nodes' models)";
        if (document.IsSubsampled()) {
            line += ", subsampled on a " + Wording::Number(document.GetCellSize()) +
                    " mm grid from " +
                    Wording::Count(document.GetSourceSurfels(), "surfel", "surfels");
        }
        std::printf("%s\n", line.c_str());
    }
    return 0;
}
