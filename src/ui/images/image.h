// Pictures as plain pixels, for the window toolkits: the portal's logo is
// decoded from its JPEG with the IJG libjpeg API and stretched to the size
// of its control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ui {

// 8-bit RGB pixels, row after row from the top, no padding.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Decodes a baseline or progressive JPEG (greyscale, RGB or YCbCr; CMYK is
// refused) into `image`. On failure returns false, leaves `image` empty and
// says why in `error`.
bool DecodeJpeg(const uint8_t* data, size_t size, Image& image, std::string& error);

// The image stretched to width x height: each target pixel is the average
// of the source area it covers, so shrinking does not alias. An empty
// source or size gives an empty image.
Image StretchImage(const Image& source, int width, int height);

}  // namespace ui
