#include "ui/images/image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace ui {
namespace {

// Larger pictures are refused before any pixel memory is taken: a logo
// never comes near, and a damaged header must not ask for gigabytes.
constexpr long long kMaxPixels = 16LL * 1024 * 1024;

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoder with the library's message.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void ExitWithError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

// Warnings (a corrupt but readable scan) are not errors: the picture is
// shown as far as it decodes.
extern "C" void IgnoreMessage(j_common_ptr, int) {}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, Image& image, std::string& error) {
    image = Image{};
    if (data == nullptr || size == 0) {
        error = "no JPEG data";
        return false;
    }
    jpeg_decompress_struct info{};
    ErrorManager manager{};
    info.err = jpeg_std_error(&manager.base);
    manager.base.error_exit = ExitWithError;
    manager.base.emit_message = IgnoreMessage;
    // Only objects without destructors, and `image` of the caller, live
    // between here and a jump back.
    if (setjmp(manager.jump) != 0) {
        jpeg_destroy_decompress(&info);
        image = Image{};
        error = manager.message;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        error = "CMYK JPEG pictures are not supported";
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    const long long pixels = static_cast<long long>(info.output_width) * info.output_height;
    if (pixels == 0 || pixels > kMaxPixels || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        error = "JPEG picture of an unsupported size";
        return false;
    }
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.rgb.resize(static_cast<size_t>(pixels) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            image.rgb.data() + static_cast<size_t>(info.output_scanline) * image.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

Image StretchImage(const Image& source, int width, int height) {
    Image target;
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0) {
        return target;
    }
    target.width = width;
    target.height = height;
    target.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        // The source rows and columns a target pixel covers: at least one.
        const int top = static_cast<int>(static_cast<long long>(y) * source.height / height);
        int bottom = static_cast<int>(static_cast<long long>(y + 1) * source.height / height);
        bottom = std::max(bottom, top + 1);
        for (int x = 0; x < width; ++x) {
            const int left = static_cast<int>(static_cast<long long>(x) * source.width / width);
            int right = static_cast<int>(static_cast<long long>(x + 1) * source.width / width);
            right = std::max(right, left + 1);
            unsigned sum[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                const uint8_t* pixel =
                    &source.rgb[(static_cast<size_t>(sy) * source.width + left) * 3];
                for (int sx = left; sx < right; ++sx, pixel += 3) {
                    sum[0] += pixel[0];
                    sum[1] += pixel[1];
                    sum[2] += pixel[2];
                }
            }
            const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
            uint8_t* out = &target.rgb[(static_cast<size_t>(y) * width + x) * 3];
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
            }
        }
    }
    return target;
}

}  // namespace ui
