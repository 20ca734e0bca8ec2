#include "tools/ttree/Base64.h"

#include <cstdint>

namespace {
constexpr char c_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

void Base64::Append(std::string& out, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const size_t start = out.size();
    out.resize(start + EncodedSize(size));
    char* write = out.data() + start;
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t group =
            uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        *write++ = c_alphabet[group >> 18];
        *write++ = c_alphabet[(group >> 12) & 63];
        *write++ = c_alphabet[(group >> 6) & 63];
        *write++ = c_alphabet[group & 63];
    }
    if (i < size) {
        // One or two bytes left: pad the group with zero bits and '='.
        const bool two = i + 1 < size;
        const uint32_t group = uint32_t{bytes[i]} << 16 | (two ? uint32_t{bytes[i + 1]} << 8 : 0u);
        *write++ = c_alphabet[group >> 18];
        *write++ = c_alphabet[(group >> 12) & 63];
        *write++ = two ? c_alphabet[(group >> 6) & 63] : '=';
        *write++ = '=';
    }
}
