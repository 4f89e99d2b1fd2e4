// The window's artwork, compiled into the program: the banner across the
// top (a 24-bit Windows bitmap, 658 x 60) and the partner portal's logo
// (a JPEG, shown stretched to 94 x 60). Both were drawn for this project.
#pragma once

#include <cstddef>
#include <span>

namespace ui::artwork {

std::span<const unsigned char> Banner();
std::span<const unsigned char> PortalLogo();

}  // namespace ui::artwork
