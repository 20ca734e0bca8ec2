#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/abacus/CbMatrix4Rd.h"

// The poses of an import folder: lines "<scan file name> <16 numbers>", in acquisition
// order; '#' starts a comment. The numbers are the scan's transformation into the session
// frame in the library's storage order (row vectors, translation in the fourth row), or,
// with the column convention, the transpose that column-vector tools write.
// Faults throw CbException naming the file and the line. Stateless.
class PoseFile {
public:
    enum EConvention { eRowVectors, eColumnVectors };

    static std::vector<std::pair<std::string, CbMatrix4Rd>> Read(const std::filesystem::path& path,
                                                                 EConvention convention);
};
