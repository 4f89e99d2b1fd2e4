// The banner's picture format: an uncompressed 24-bit Windows bitmap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/images/image.h"

namespace ui::gtk {

// Decodes an uncompressed 24-bit bitmap (rows bottom-up or, with a negative
// height, top-down) into `image`. Every other kind, and a file too short for
// its header or rows, is refused with the reason in `error`.
bool DecodeBmp(const uint8_t* data, size_t size, Image& image, std::string& error);

}  // namespace ui::gtk
