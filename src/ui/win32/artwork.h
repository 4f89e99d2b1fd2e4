// The window's fixed artwork, carried as resources of the program: the
// banner as a bitmap, the portal's logo as a JPEG picture.
#pragma once

#include <windows.h>

#include <string>

namespace ui::win32 {

// A picture control's artwork and what an assistive technology reads for it.
struct PictureArt {
    const wchar_t* resource = nullptr;  // null: none
    bool jpeg = false;
    const char* accessibleName = "";
};

// The artwork of the picture control named `name` ("img_brf", "img_portal").
PictureArt ArtFor(const std::string& name);

// The artwork as a bitmap of `width` x `height` pixels (stretched when
// `stretch` is set, else at its own size); null when the program carries no
// such resource or it cannot be decoded.
HBITMAP LoadArt(const PictureArt& art, int width, int height, bool stretch);

}  // namespace ui::win32
