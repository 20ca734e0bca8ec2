// Session files: the container (magic, version, sections, checksums) and what it holds.
// The checksums stop almost every mutation at the container, so a second mode (first
// byte odd) recomputes them before reading, to let mutations reach the tree record.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "transformationtree/persistence/KaCSessionFile.h"

namespace {

void fixChecksums(std::vector<uint8_t>& bytes) {
    size_t position = 16;
    while (position + 16 <= bytes.size()) {
        uint64_t length = CbByteOrder::load<uint64_t>(bytes.data() + position + 4);
        if (length > bytes.size() - position - 16) {
            return;
        }
        uint32_t crc = static_cast<uint32_t>(
            crc32(crc32(0L, Z_NULL, 0), bytes.data() + position + 16, static_cast<uInt>(length)));
        CbByteOrder::store(bytes.data() + position + 12, crc);
        position += 16 + length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    std::vector<uint8_t> bytes(data + 1, data + size);
    if ((data[0] & 1) != 0) {
        fixChecksums(bytes);
    }
    try {
        KaCSessionFile::ReadFromMemory(bytes, "fuzz.ttree", false);
    } catch (const CbException&) {
    }
    return 0;
}
