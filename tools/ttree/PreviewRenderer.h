#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/granary/KaCSurfelContainer.h"

// A preview image of surfels: an orthographic view along -z of their frame (from above),
// fitted into the image with a margin, every surfel drawn as a small square in its colour
// shaded by its normal (a light from above), the nearest surfel winning each pixel.
// Encoded as an RGB PNG with libpng. Faults throw CbException. Stateless.
class PreviewRenderer {
public:
    // Rows of width × 3 bytes, top row first.
    static std::vector<uint8_t> Render(const KaCSurfelContainer& surfels, uint32_t width,
                                       uint32_t height);
    // The RGB PNG of `pixels`, in memory.
    static std::vector<uint8_t> EncodePng(const std::vector<uint8_t>& pixels, uint32_t width,
                                          uint32_t height);
    // Replaces `path` all at once with that PNG (OutputFile).
    static void WritePng(const std::filesystem::path& path, const std::vector<uint8_t>& pixels,
                         uint32_t width, uint32_t height);

    static constexpr uint8_t c_background[3] = {24, 26, 32};
};
