// Pose files (poses.txt) as `ttree import` reads them. The first byte chooses the
// convention (bit 0: column vectors) and whether scans listed twice are skipped (bit 1);
// the rest is the file. Every pose the reader accepts must be a rigid transformation with
// an exact projective part, and the optional columns must be on every entry or on none.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/harbor/CbException.h"
#include "tools/ttree/PoseFile.h"
#include "tools/ttree/RigidTransform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    PoseFile::Options options;
    options.convention = (data[0] & 1) != 0 ? PoseFile::eColumnVectors : PoseFile::eRowVectors;
    options.skipDuplicates = (data[0] & 2) != 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        PoseFile::Contents contents = PoseFile::Parse(text, "fuzz.txt", options);
        for (const PoseFile::Entry& entry : contents.entries) {
            if (!RigidTransform::Fault(entry.pose).empty() ||
                entry.pose != RigidTransform::WithExactProjectivePart(entry.pose) ||
                entry.acquisition.has_value() != contents.entries[0].acquisition.has_value()) {
                std::abort();
            }
        }
    } catch (const CbException&) {
    }
    return 0;
}
