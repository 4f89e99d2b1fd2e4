#include "ui/win32/artwork.h"

#include <cstring>
#include <vector>

#include "ui/images/image.h"
#include "ui/resources/artwork.h"
#include "ui/win32/text_codec.h"

namespace ui::win32 {

namespace {

// A 24-bit top-down DIB section holding `image`.
HBITMAP ToBitmap(const Image& image) {
    if (image.width <= 0 || image.height <= 0) {
        return nullptr;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return nullptr;
    }
    // DIB rows are padded to four bytes and hold blue, green, red.
    const size_t stride = (static_cast<size_t>(image.width) * 3 + 3) & ~size_t{3};
    auto* out = static_cast<uint8_t*>(bits);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* from = image.rgb.data() + static_cast<size_t>(y) * image.width * 3;
        uint8_t* to = out + static_cast<size_t>(y) * stride;
        for (int x = 0; x < image.width; ++x) {
            to[3 * x] = from[3 * x + 2];
            to[3 * x + 1] = from[3 * x + 1];
            to[3 * x + 2] = from[3 * x];
        }
    }
    GdiFlush();
    return bitmap;
}

// A bitmap among the program's resources; where the program carries none
// of that name (a test program), the bitmap file compiled into the toolkit.
HBITMAP LoadBitmapArt(const std::string& resource, std::span<const unsigned char> file) {
    HANDLE loaded = LoadImageW(GetModuleHandleW(nullptr), Widen(resource).c_str(), IMAGE_BITMAP, 0,
                               0, LR_CREATEDIBSECTION);
    if (loaded != nullptr) {
        return static_cast<HBITMAP>(loaded);
    }
    if (file.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) {
        return nullptr;
    }
    BITMAPFILEHEADER header;
    std::memcpy(&header, file.data(), sizeof header);
    if (header.bfType != 0x4D42 || header.bfOffBits >= file.size()) {
        return nullptr;
    }
    const auto* info = reinterpret_cast<const BITMAPINFO*>(file.data() + sizeof header);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBitmap(screen, &info->bmiHeader, CBM_INIT,
                                    file.data() + header.bfOffBits, info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HBITMAP LoadJpegArt(std::span<const unsigned char> file, int width, int height, bool stretch) {
    Image image;
    std::string error;
    if (!DecodeJpeg(file.data(), file.size(), image, error)) {
        return nullptr;
    }
    return ToBitmap(stretch ? StretchImage(image, width, height) : image);
}

}  // namespace

HBITMAP LoadArt(const std::string& resource, int width, int height, bool stretch) {
    if (resource.empty()) {
        return nullptr;
    }
    const artwork::Art art = artwork::Find(resource);
    switch (art.format) {
        case artwork::Format::Jpeg:
            return LoadJpegArt(art.bytes, width, height, stretch);
        case artwork::Format::Bitmap:
        case artwork::Format::None:
            break;
    }
    return LoadBitmapArt(resource, art.bytes);
}

}  // namespace ui::win32
