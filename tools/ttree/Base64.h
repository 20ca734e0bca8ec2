#pragma once

#include <cstddef>
#include <string>

// Base64 (RFC 4648, the standard alphabet, with '=' padding and no line breaks), the form
// binary data takes inside a text file such as the HTML of `ttree view`. Stateless.
class Base64 {
public:
    // Appends the encoding of `size` bytes at `data` to `out`.
    static void Append(std::string& out, const void* data, size_t size);
    // The length of the encoding of `size` bytes.
    static size_t EncodedSize(size_t size) { return (size + 2) / 3 * 4; }
};
