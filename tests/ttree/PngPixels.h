#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The pixels of a PNG file as 8-bit RGBA (libpng's simplified reader), for tests that
// look at images the program or a browser wrote.
class PngPixels {
public:
    // Reads `file`; on failure the image is empty and GetError() says why.
    explicit PngPixels(const std::filesystem::path& file);

    uint32_t GetWidth() const { return m_width; }
    uint32_t GetHeight() const { return m_height; }
    const std::string& GetError() const { return m_error; }
    std::array<uint8_t, 3> At(uint32_t x, uint32_t y) const;

private:
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    std::vector<uint8_t> m_rgba;
    std::string m_error;
};
