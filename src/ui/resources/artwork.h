// The window's artwork, compiled into the program: the banner across the
// top (a 24-bit Windows bitmap, 658 x 60) and the partner portal's logo
// (a JPEG, shown stretched to 94 x 60). Both were drawn for this project.
// A toolkit finds a picture by its resource name, the name it has among
// the program's resources on Windows: "BRF_BANNER", "PORTAL_LOGO".
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace ui::artwork {

std::span<const unsigned char> Banner();
std::span<const unsigned char> PortalLogo();

enum class Format { None, Bitmap, Jpeg };

struct Art {
    std::span<const unsigned char> bytes;
    Format format = Format::None;  // None: no picture of that name
};

// The picture compiled in under the resource name `resource`.
Art Find(std::string_view resource);

}  // namespace ui::artwork
