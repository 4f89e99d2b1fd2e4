// A picture control's artwork as pixels, from the picture resources
// compiled into the program.
#pragma once

#include <string>
#include <string_view>

#include "ui/images/image.h"

namespace ui::gtk {

// The picture resource `resource` decoded (a bitmap or a JPEG), stretched
// to `width` x `height` when `stretch` is set. An empty image when
// `resource` is empty; also when the program carries no such picture or it
// cannot be decoded, and then `error` says why.
Image ArtworkImage(std::string_view resource, int width, int height, bool stretch,
                   std::string& error);

}  // namespace ui::gtk
