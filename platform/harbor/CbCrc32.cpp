#include "platform/harbor/CbCrc32.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t c_polynomial = 0xEDB88320u;

// c_tables[k][b]: the CRC register after byte b followed by k zero bytes, for slicing by 8.
constexpr std::array<std::array<uint32_t, 256>, 8> makeTables() {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t crc = b;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ c_polynomial : crc >> 1;
        }
        tables[0][b] = crc;
    }
    for (uint32_t b = 0; b < 256; ++b) {
        for (size_t k = 1; k < 8; ++k) {
            const uint32_t previous = tables[k - 1][b];
            tables[k][b] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr std::array<std::array<uint32_t, 256>, 8> c_tables = makeTables();

// The register (pre-inverted CRC) after `size` more bytes.
uint32_t updateTable(uint32_t crc, const uint8_t* data, uint64_t size) {
    while (size >= 8) {
        uint32_t low = 0;
        uint32_t high = 0;
        std::memcpy(&low, data, 4);
        std::memcpy(&high, data + 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            low = __builtin_bswap32(low);
            high = __builtin_bswap32(high);
        }
        low ^= crc;
        crc = c_tables[7][low & 0xFFu] ^ c_tables[6][(low >> 8) & 0xFFu] ^
              c_tables[5][(low >> 16) & 0xFFu] ^ c_tables[4][low >> 24] ^
              c_tables[3][high & 0xFFu] ^ c_tables[2][(high >> 8) & 0xFFu] ^
              c_tables[1][(high >> 16) & 0xFFu] ^ c_tables[0][high >> 24];
        data += 8;
        size -= 8;
    }
    while (size > 0) {
        crc = (crc >> 8) ^ c_tables[0][(crc ^ *data) & 0xFFu];
        ++data;
        --size;
    }
    return crc;
}

#if defined(__x86_64__)

// The register after `size` more bytes, for size >= 64 and a multiple of 16: four 128-bit
// lanes folded 64 bytes at a time by carry-less multiplication with x^(512±32) mod P, then
// folded into one lane, reduced to 64 bits and Barrett-reduced to 32 (the folding constants
// of the bit-reflected CRC-32 polynomial).
__attribute__((target("pclmul,sse4.1"))) uint32_t updateFolded(uint32_t crc, const uint8_t* data,
                                                               uint64_t size) {
    alignas(16) static constexpr uint64_t k1k2[2] = {0x0154442bd4ull, 0x01c6e41596ull};
    alignas(16) static constexpr uint64_t k3k4[2] = {0x01751997d0ull, 0x00ccaa009eull};
    alignas(16) static constexpr uint64_t k5k0[2] = {0x0163cd6124ull, 0x0000000000ull};
    alignas(16) static constexpr uint64_t poly[2] = {0x01db710641ull, 0x01f7011641ull};

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x00));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x10));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x20));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    data += 64;
    size -= 64;
    while (size >= 64) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        const __m128i y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x00));
        const __m128i y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x10));
        const __m128i y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x20));
        const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 0x30));
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
        data += 64;
        size -= 64;
    }
    // Four lanes into one.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    for (__m128i next : {x2, x3, x4}) {
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
    }
    // The 16-byte blocks left.
    while (size >= 16) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
        data += 16;
        size -= 16;
    }
    // 128 bits to 64.
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_srli_si128(x1, 8);
    x1 = _mm_xor_si128(x1, x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, x3);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    // Barrett reduction to 32 bits.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

bool detectCarrylessMultiply() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

#endif

}  // namespace

namespace {

// Polynomials over GF(2) modulo the CRC polynomial, in the reflected bit order of the
// register (x^0 is the highest bit). a(x) * b(x) mod p(x):
uint32_t multiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
        if ((a & bit) != 0) {
            product ^= b;
        }
        b = (b & 1u) != 0 ? (b >> 1) ^ c_polynomial : b >> 1;
    }
    return product;
}

// c_powers[k] = x^(2^k) mod p(x), for every bit of a 64-bit byte count times 8.
constexpr std::array<uint32_t, 67> makePowers() {
    std::array<uint32_t, 67> powers{};
    uint32_t power = 1u << 30;  // x^1
    for (uint32_t& entry : powers) {
        entry = power;
        // power * power mod p, written out for the constant evaluation.
        uint32_t product = 0;
        uint32_t b = power;
        for (uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
            if ((power & bit) != 0) {
                product ^= b;
            }
            b = (b & 1u) != 0 ? (b >> 1) ^ c_polynomial : b >> 1;
        }
        power = product;
    }
    return powers;
}

constexpr std::array<uint32_t, 67> c_powers = makePowers();

// x^(8 * bytes) mod p(x): appending `bytes` zero bytes multiplies the register by it.
uint32_t shiftOfBytes(uint64_t bytes) {
    uint32_t shift = 1u << 31;  // x^0
    for (size_t k = 3; bytes != 0; bytes >>= 1, ++k) {
        if ((bytes & 1u) != 0) {
            shift = multiplyModP(c_powers[k], shift);
        }
    }
    return shift;
}

}  // namespace

uint32_t CbCrc32::Combine(uint32_t crcA, uint32_t crcB, uint64_t sizeB) {
    return multiplyModP(shiftOfBytes(sizeB), crcA) ^ crcB;
}

bool CbCrc32::HasCarrylessMultiply() {
#if defined(__x86_64__)
    static const bool available = detectCarrylessMultiply();
    return available;
#else
    return false;
#endif
}

uint32_t CbCrc32::Compute(const void* data, uint64_t size, uint32_t crc) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t value = ~crc;
#if defined(__x86_64__)
    if (size >= 64 && HasCarrylessMultiply()) {
        const uint64_t folded = size & ~uint64_t{15};
        value = updateFolded(value, bytes, folded);
        bytes += folded;
        size -= folded;
    }
#endif
    return ~updateTable(value, bytes, size);
}

uint32_t CbCrc32::ComputeTable(const void* data, uint64_t size, uint32_t crc) {
    return ~updateTable(~crc, static_cast<const uint8_t*>(data), size);
}
