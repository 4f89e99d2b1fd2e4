// A picture control's artwork, carried as resources of the program: a
// bitmap or a JPEG picture.
#pragma once

#include <windows.h>

#include <string>

namespace ui::win32 {

// The picture resource `resource` as a bitmap: a bitmap among the
// program's own resources at its own size, else the picture compiled into
// the toolkit (ui/resources/artwork.h), a JPEG one of `width` x `height`
// pixels when `stretch` is set. Null when `resource` is empty, names no
// picture or cannot be decoded.
HBITMAP LoadArt(const std::string& resource, int width, int height, bool stretch);

}  // namespace ui::win32
