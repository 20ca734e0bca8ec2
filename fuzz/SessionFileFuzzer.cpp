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

uint32_t crc(const uint8_t* data, size_t size, uLong start = 0) {
    return static_cast<uint32_t>(crc32(start, data, static_cast<uInt>(size)));
}

// Recomputes the checksums the way the file's version places them: version 1 has no header
// checksum and section checksums over the payload; later versions checksum the header and
// each section's type, length and payload.
void fixChecksums(std::vector<uint8_t>& bytes) {
    if (bytes.size() < 16) {
        return;
    }
    const bool first = CbByteOrder::load<uint32_t>(bytes.data() + 8) == 1;
    size_t position = first ? 16 : 20;
    if (!first && bytes.size() >= 20) {
        CbByteOrder::store(bytes.data() + 16, crc(bytes.data(), 16));
    }
    while (position + 16 <= bytes.size()) {
        uint64_t length = CbByteOrder::load<uint64_t>(bytes.data() + position + 4);
        if (length > bytes.size() - position - 16) {
            return;
        }
        const uint32_t start = first ? 0 : crc(bytes.data() + position, 12);
        CbByteOrder::store(bytes.data() + position + 12,
                           crc(bytes.data() + position + 16, length, start));
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
