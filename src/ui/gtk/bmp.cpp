#include "ui/gtk/bmp.h"

namespace ui::gtk {

namespace {

uint32_t U16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}
uint32_t U32(const uint8_t* p) {
    return U16(p) | (U16(p + 2) << 16);
}

// Larger than any picture the window shows; keeps the arithmetic far from
// overflowing.
constexpr int64_t kMaxSide = 16384;

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, Image& image, std::string& error) {
    image = Image{};
    if (data == nullptr || size < 54 || data[0] != 'B' || data[1] != 'M') {
        error = "not a Windows bitmap";
        return false;
    }
    const uint32_t offset = U32(data + 10);
    const uint32_t headerSize = U32(data + 14);
    if (headerSize < 40) {
        error = "unsupported bitmap header";
        return false;
    }
    const int64_t width = static_cast<int32_t>(U32(data + 18));
    const int64_t rawHeight = static_cast<int32_t>(U32(data + 22));
    const uint32_t bits = U16(data + 28);
    const uint32_t compression = U32(data + 30);
    if (bits != 24 || compression != 0) {
        error = "only uncompressed 24-bit bitmaps are supported";
        return false;
    }
    const bool topDown = rawHeight < 0;
    const int64_t height = topDown ? -rawHeight : rawHeight;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) {
        error = "bad bitmap size";
        return false;
    }
    const int64_t stride = (width * 3 + 3) / 4 * 4;
    if (offset > size || static_cast<int64_t>(size - offset) < stride * height) {
        error = "bitmap is truncated";
        return false;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.rgb.resize(static_cast<size_t>(width * height * 3));
    for (int64_t y = 0; y < height; ++y) {
        const uint8_t* row = data + offset + stride * (topDown ? y : height - 1 - y);
        uint8_t* out = image.rgb.data() + y * width * 3;
        for (int64_t x = 0; x < width; ++x) {
            out[x * 3] = row[x * 3 + 2];
            out[x * 3 + 1] = row[x * 3 + 1];
            out[x * 3 + 2] = row[x * 3];
        }
    }
    return true;
}

}  // namespace ui::gtk
