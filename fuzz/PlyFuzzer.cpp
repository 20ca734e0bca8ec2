// PLY files in every encoding, as `ttree import` reads them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/harbor/CbException.h"
#include "tools/ttree/PlyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    try {
        PlyFile::ReadFromMemory(bytes, "fuzz.ply");
    } catch (const CbException&) {
    }
    return 0;
}
