#pragma once

#include <cstdint>

// A surfel colour in three bytes: red, green and blue, 0 to 255 each, no padding, so that
// arrays of colours are three bytes per surfel in memory and in streams.
// A plain value; thread-safe as values are; nothing throws.
struct KaCCompressedColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    constexpr KaCCompressedColor() = default;
    constexpr KaCCompressedColor(uint8_t red, uint8_t green, uint8_t blue)
        : r(red), g(green), b(blue) {}

    constexpr bool operator==(const KaCCompressedColor& other) const = default;
};

static_assert(sizeof(KaCCompressedColor) == 3, "a compressed colour is exactly three bytes");
