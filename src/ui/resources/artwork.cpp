#include "ui/resources/artwork.h"

extern const unsigned char brf_banner_bmp[];
extern const std::size_t brf_banner_bmp_size;
extern const unsigned char portal_logo_jpg[];
extern const std::size_t portal_logo_jpg_size;

namespace ui::artwork {

std::span<const unsigned char> Banner() {
    return {brf_banner_bmp, brf_banner_bmp_size};
}

std::span<const unsigned char> PortalLogo() {
    return {portal_logo_jpg, portal_logo_jpg_size};
}

Art Find(std::string_view resource) {
    if (resource == "BRF_BANNER") {
        return {Banner(), Format::Bitmap};
    }
    if (resource == "PORTAL_LOGO") {
        return {PortalLogo(), Format::Jpeg};
    }
    return {};
}

}  // namespace ui::artwork
