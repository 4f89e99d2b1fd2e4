// The picture decoding and stretching the window toolkits share, on the
// real artwork and on damaged data.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ui/images/image.h"
#include "ui/resources/artwork.h"

namespace {

struct Rgb {
    int r, g, b;
};

Rgb PixelAt(const ui::Image& image, int x, int y) {
    const uint8_t* p = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

ui::Image DecodedLogo() {
    const auto logo = ui::artwork::PortalLogo();
    ui::Image image;
    std::string error;
    EXPECT_TRUE(ui::DecodeJpeg(logo.data(), logo.size(), image, error)) << error;
    return image;
}

TEST(Images, PortalLogoDecodesAndStretchesToItsControl) {
    const ui::Image logo = DecodedLogo();
    ASSERT_EQ(logo.width, 188);
    ASSERT_EQ(logo.height, 120);
    ASSERT_EQ(logo.rgb.size(), 188u * 120 * 3);
    // Gold in the corner, the dark compass rose left of the centre.
    const Rgb corner = PixelAt(logo, 2, 2);
    EXPECT_GT(corner.r, 150);
    EXPECT_LT(corner.b, 110);
    const Rgb rose = PixelAt(logo, 94, 30);
    EXPECT_LT(rose.r, 120);

    const ui::Image shown = ui::StretchImage(logo, 94, 60);
    ASSERT_EQ(shown.width, 94);
    ASSERT_EQ(shown.height, 60);
    ASSERT_EQ(shown.rgb.size(), 94u * 60 * 3);
    // Shrinking by two averages each 2 x 2 block of the source.
    for (const auto& [x, y] : {std::pair{0, 0}, {47, 25}, {93, 59}, {10, 50}}) {
        int sum = 0;
        for (int dy = 0; dy < 2; ++dy) {
            for (int dx = 0; dx < 2; ++dx) {
                sum += PixelAt(logo, 2 * x + dx, 2 * y + dy).g;
            }
        }
        EXPECT_NEAR(PixelAt(shown, x, y).g, sum / 4.0, 1.0) << x << "," << y;
    }
}

TEST(Images, DamagedJpegIsRefusedWithAReason) {
    const auto logo = ui::artwork::PortalLogo();
    const std::vector<uint8_t> whole(logo.begin(), logo.end());
    std::vector<uint8_t> notJpeg(whole.size(), 'x');
    std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + 20);
    for (const auto& data : {notJpeg, headerOnly, std::vector<uint8_t>{}}) {
        ui::Image image;
        image.width = 5;
        std::string error;
        EXPECT_FALSE(ui::DecodeJpeg(data.data(), data.size(), image, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(image.width, 0);
        EXPECT_TRUE(image.rgb.empty());
    }
    // A scan cut short still shows what arrived: libjpeg fills the rest.
    std::vector<uint8_t> truncated(whole.begin(), whole.begin() + whole.size() / 2);
    ui::Image image;
    std::string error;
    EXPECT_TRUE(ui::DecodeJpeg(truncated.data(), truncated.size(), image, error)) << error;
    EXPECT_EQ(image.width, 188);
}

TEST(Images, StretchEnlargesAndRefusesEmptySizes) {
    ui::Image dot;
    dot.width = 1;
    dot.height = 1;
    dot.rgb = {10, 20, 30};
    const ui::Image big = ui::StretchImage(dot, 3, 2);
    ASSERT_EQ(big.rgb.size(), 18u);
    for (size_t i = 0; i < big.rgb.size(); i += 3) {
        EXPECT_EQ(big.rgb[i], 10);
        EXPECT_EQ(big.rgb[i + 2], 30);
    }
    EXPECT_TRUE(ui::StretchImage(dot, 0, 5).rgb.empty());
    EXPECT_TRUE(ui::StretchImage(ui::Image{}, 4, 4).rgb.empty());
}

TEST(Images, BannerIsA24BitBitmapOfTheBannerSize) {
    const auto banner = ui::artwork::Banner();
    ASSERT_GT(banner.size(), 54u);
    EXPECT_EQ(banner[0], 'B');
    EXPECT_EQ(banner[1], 'M');
    auto le32 = [&](size_t at) {
        return banner[at] | banner[at + 1] << 8 | banner[at + 2] << 16 | banner[at + 3] << 24;
    };
    EXPECT_EQ(le32(18), 658);
    EXPECT_EQ(le32(22), 60);
    EXPECT_EQ(banner[28], 24);
}

}  // namespace
