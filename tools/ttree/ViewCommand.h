#pragma once

#include <cstdint>
#include <string>

#include "tools/ttree/ViewDocument.h"

// `ttree view FILE -o VIEW.html`: writes one self-contained HTML page that shows the
// session (or the subtree of `--node`) in 3-D in a browser, beside its tree (ViewDocument
// gathers what it shows, HtmlViewWriter writes it). The output must end in .html and must
// not be the input; it is written whole or not at all. Prints the file size and the point
// count unless quiet. Faults throw CbException.
class ViewCommand {
public:
    struct Options {
        std::string file;
        std::string output;
        std::string node;
        float cellSize = 0.0f;  // 0: full resolution while the points fit, else derived
        uint64_t maxPoints = ViewDocument::c_defaultMaxPoints;
        bool quiet = false;
    };

    // The smallest --max-points taken: fewer points show nothing a user can recognise.
    static constexpr uint64_t c_minimumMaxPoints = 1000;

    static int Run(const Options& options);
};
