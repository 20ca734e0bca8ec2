#include "tests/ttree/PngPixels.h"

#include <png.h>

#include <cstring>

PngPixels::PngPixels(const std::filesystem::path& file) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0) {
        m_error = image.message;
        return;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) == 0) {
        m_error = image.message;
        png_image_free(&image);
        return;
    }
    m_width = image.width;
    m_height = image.height;
    m_rgba = std::move(rgba);
}

std::array<uint8_t, 3> PngPixels::At(uint32_t x, uint32_t y) const {
    const size_t at = 4 * (size_t{y} * m_width + x);
    return {m_rgba[at], m_rgba[at + 1], m_rgba[at + 2]};
}
