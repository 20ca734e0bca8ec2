#pragma once

#include <cstdint>

// The CRC-32 of zlib, gzip, PNG and Ethernet (reflected polynomial 0xEDB88320, initial value
// and final XOR 0xFFFFFFFF), with zlib's crc32() convention for continuing: the CRC of
// a + b is Compute(b, Compute(a)). Results are identical to zlib's crc32() for every input.
//
// Processors with carry-less multiplication (PCLMULQDQ, checked once at run time) fold
// 64 bytes per step, which runs at memory speed; others use a table-driven loop that takes
// eight bytes per step (slicing by 8). Both give the same value.
//
// Stateless and thread-safe.
class CbCrc32 {
public:
    CbCrc32() = delete;

    // The CRC of `size` bytes at `data`, continuing `crc`, the CRC of the bytes before them
    // (0 for none).
    static uint32_t Compute(const void* data, uint64_t size, uint32_t crc = 0);
    // The same by the table-driven loop only; for tests and processors without the
    // instructions.
    static uint32_t ComputeTable(const void* data, uint64_t size, uint32_t crc = 0);
    // The CRC of a + b from the CRC of a, the CRC of b (each computed from 0) and b's size,
    // without the bytes: for data whose parts are checksummed before the part in front of
    // them is known (zlib's crc32_combine).
    static uint32_t Combine(uint32_t crcA, uint32_t crcB, uint64_t sizeB);
    // True when Compute uses carry-less multiplication on this processor.
    static bool HasCarrylessMultiply();
};
