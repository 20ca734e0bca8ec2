#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"

// The poses of an import folder (poses.txt), one scan a line in acquisition order:
//
//   <scan file name> <16 numbers> [<sequence number> <time stamp> <segment>]
//
// '#' starts a comment. The 16 numbers are the transformation from the scan's frame into
// the session frame. With the row convention they are the library's storage order: row
// vectors, p × M, the translation in the fourth row (numbers 13 to 15), the fourth column
// 0 0 0 1. With the column convention they are its transpose, as column-vector tools write
// it: M p, the translation in the fourth column (numbers 4, 8, 12), the fourth row 0 0 0 1.
// The optional columns are given on every line or on none: the scanner's acquisition
// sequence number (an integer, increasing from line to line), the time stamp in seconds
// (never decreasing) and the segment (an integer numbering the scanner's passes; the lines
// of a segment follow each other).
//
// Every pose must be a rigid transformation (RigidTransform); its projective part is
// stored as exactly 0 0 0 1. A scan listed twice is refused, or with `skipDuplicates` its
// later lines are left out with a warning. Faults throw CbException naming the file, the
// line and what is wrong; for a pose whose transpose is rigid the message adds that the
// other convention is probably meant. Stateless.
class PoseFile {
public:
    enum EConvention { eRowVectors, eColumnVectors };
    struct Options {
        EConvention convention = eRowVectors;
        bool skipDuplicates = false;
    };
    // The optional columns of a line.
    struct Acquisition {
        uint64_t sequence = 0;
        double timeStamp = 0.0;  // seconds
        uint32_t segment = 0;
    };
    struct Entry {
        std::string scan;
        CbMatrix4Rd pose;  // scan frame into session frame, in storage order
        int line = 0;
        std::optional<Acquisition> acquisition;
    };
    struct Contents {
        std::vector<Entry> entries;
        std::vector<std::string> warnings;  // one per line left out
    };

    static Contents Read(const std::filesystem::path& path, const Options& options);
    // The same for text in memory; `name` names it in messages.
    static Contents Parse(const std::string& text, const std::string& name, const Options& options);
};
