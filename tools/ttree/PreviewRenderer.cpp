#include "tools/ttree/PreviewRenderer.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <string>

#include "platform/harbor/CbException.h"
#include "platform/prism/CyBoundingBox3D.h"
#include "tools/ttree/OutputFile.h"

std::vector<uint8_t> PreviewRenderer::Render(const KaCSurfelContainer& surfels, uint32_t width,
                                             uint32_t height) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384) {
        CB_THROW(CbException,
                 "preview: the image size must be between 1 and 16384 pixels per side");
    }
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); i += 3) {
        std::copy(c_background, c_background + 3, pixels.begin() + static_cast<std::ptrdiff_t>(i));
    }
    CyBoundingBox3D box;
    for (uint32_t i = 0; i < surfels.GetNrSurfels(); ++i) {
        box.Extend(surfels.GetPosition(i));
    }
    if (box.IsEmpty()) {
        return pixels;
    }
    const float margin = 0.05f;
    CbVector3f extent = box.GetExtent();
    float scale =
        std::min(static_cast<float>(width) * (1 - 2 * margin) / std::max(extent.x, 1e-6f),
                 static_cast<float>(height) * (1 - 2 * margin) / std::max(extent.y, 1e-6f));
    float offsetX = (static_cast<float>(width) - extent.x * scale) / 2;
    float offsetY = (static_cast<float>(height) - extent.y * scale) / 2;
    int radius = std::max(1, static_cast<int>(std::lround(
                                 0.5 * std::sqrt(static_cast<double>(width) * height /
                                                 std::max<uint32_t>(surfels.GetNrSurfels(), 1)))));
    radius = std::min(radius, 3);
    std::vector<float> depth(static_cast<size_t>(width) * height,
                             -std::numeric_limits<float>::infinity());
    const CbVector3f light = CbVector3f(0.3f, 0.4f, 1.0f).Normalized();
    for (uint32_t i = 0; i < surfels.GetNrSurfels(); ++i) {
        KaCSurfel s = surfels.GetSurfel(i);
        if (!std::isfinite(s.position.x) || !std::isfinite(s.position.y) ||
            !std::isfinite(s.position.z)) {
            continue;
        }
        int px = static_cast<int>(offsetX + (s.position.x - box.GetMin().x) * scale);
        int py = static_cast<int>(height) - 1 -
                 static_cast<int>(offsetY + (s.position.y - box.GetMin().y) * scale);
        float shade = 0.25f + 0.75f * std::max(0.0f, s.normal.Dot(light));
        uint8_t color[3] = {static_cast<uint8_t>(s.color.r * shade),
                            static_cast<uint8_t>(s.color.g * shade),
                            static_cast<uint8_t>(s.color.b * shade)};
        if (s.color.r == 0 && s.color.g == 0 && s.color.b == 0) {
            std::fill(color, color + 3, static_cast<uint8_t>(230 * shade));  // uncoloured: grey
        }
        for (int dy = -radius + 1; dy < radius; ++dy) {
            for (int dx = -radius + 1; dx < radius; ++dx) {
                int x = px + dx;
                int y = py + dy;
                if (x < 0 || y < 0 || x >= static_cast<int>(width) ||
                    y >= static_cast<int>(height)) {
                    continue;
                }
                size_t index = static_cast<size_t>(y) * width + static_cast<size_t>(x);
                if (s.position.z > depth[index]) {
                    depth[index] = s.position.z;
                    std::copy(color, color + 3,
                              pixels.begin() + static_cast<std::ptrdiff_t>(index * 3));
                }
            }
        }
    }
    return pixels;
}

namespace {

// Collects libpng's output in memory. A failed allocation is reported to libpng, which
// then ends the writing through its error path.
void appendToBuffer(png_structp png, png_bytep data, png_size_t size) {
    auto* buffer = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool full = false;
    try {
        buffer->insert(buffer->end(), data, data + size);
    } catch (const std::bad_alloc&) {
        full = true;
    }
    if (full) {
        png_error(png, "out of memory");
    }
}

void flushNothing(png_structp) {}

// The PNG encoding of `pixels` into `buffer`; false when libpng failed.
bool encodeInto(std::vector<uint8_t>& buffer, const std::vector<uint8_t>& pixels, uint32_t width,
                uint32_t height) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    // libpng reports errors by longjmp: nothing with a destructor lives in this frame.
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &buffer, &appendToBuffer, &flushNothing);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t row = 0; row < height; ++row) {
        png_write_row(png, pixels.data() + static_cast<size_t>(row) * width * 3);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

std::vector<uint8_t> PreviewRenderer::EncodePng(const std::vector<uint8_t>& pixels, uint32_t width,
                                                uint32_t height) {
    if (pixels.size() != static_cast<size_t>(width) * height * 3) {
        CB_THROW(CbException, "preview: the pixels do not fill a " + std::to_string(width) + "x" +
                                  std::to_string(height) + " image");
    }
    std::vector<uint8_t> buffer;
    if (!encodeInto(buffer, pixels, width, height)) {
        CB_THROW(CbException, "preview: libpng could not encode the image");
    }
    return buffer;
}

void PreviewRenderer::WritePng(const std::filesystem::path& path,
                               const std::vector<uint8_t>& pixels, uint32_t width,
                               uint32_t height) {
    OutputFile::Write(path, EncodePng(pixels, width, height));
}
