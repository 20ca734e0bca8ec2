// PLY files in every encoding, as `ttree import` reads them. A file is refused for invalid
// vertices exactly when reading it with eDropInvalid leaves some out, and what is kept is
// finite.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/harbor/CbException.h"
#include "tools/ttree/PlyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    try {
        uint64_t dropped = 0;
        auto surfels = PlyFile::ReadFromMemory(bytes, "fuzz.ply", PlyFile::eDropInvalid, &dropped);
        for (uint32_t i = 0; i < surfels->GetNrSurfels(); ++i) {
            CbVector3f p = surfels->GetPosition(i);
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
                std::abort();
            }
        }
        bool refused = false;
        try {
            PlyFile::ReadFromMemory(bytes, "fuzz.ply");
        } catch (const CbException&) {
            refused = true;
        }
        if (refused != (dropped > 0)) {
            std::abort();
        }
    } catch (const CbException&) {
    }
    return 0;
}
