#include "ui/gtk/artwork_image.h"

#include "ui/gtk/bmp.h"
#include "ui/resources/artwork.h"

namespace ui::gtk {

Image ArtworkImage(std::string_view resource, int width, int height, bool stretch,
                   std::string& error) {
    if (resource.empty()) {
        return {};
    }
    const artwork::Art art = artwork::Find(resource);
    Image image;
    bool decoded = false;
    switch (art.format) {
        case artwork::Format::Bitmap:
            decoded = DecodeBmp(art.bytes.data(), art.bytes.size(), image, error);
            break;
        case artwork::Format::Jpeg:
            decoded = DecodeJpeg(art.bytes.data(), art.bytes.size(), image, error);
            break;
        case artwork::Format::None:
            error = "the program has no picture \"" + std::string(resource) + "\"";
            break;
    }
    if (!decoded) {
        return {};
    }
    return stretch ? StretchImage(image, width, height) : image;
}

}  // namespace ui::gtk
