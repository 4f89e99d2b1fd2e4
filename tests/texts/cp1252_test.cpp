#include <gtest/gtest.h>

#include <set>
#include <string>

#include "texts/cp1252.h"

namespace {

// Decodes UTF-8 into code points; returns false on anything malformed,
// overlong or a surrogate.
bool DecodeUtf8(const std::string& s, std::u32string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        std::size_t len = b0 < 0x80 ? 1 : (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : 0;
        if (len == 0 || i + len > s.size()) {
            return false;
        }
        char32_t cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : (b0 & 0x0F);
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        const char32_t minimum = len == 1 ? 0 : len == 2 ? 0x80 : 0x800;
        if (cp < minimum || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        out += cp;
        i += len;
    }
    return true;
}

TEST(Cp1252ToUtf8, NullAndEmptyGiveAnEmptyText) {
    EXPECT_EQ(Cp1252ToUtf8(nullptr), "");
    EXPECT_EQ(Cp1252ToUtf8(""), "");
}

TEST(Cp1252ToUtf8, AsciiPassesUnchanged) {
    const std::string ascii = "Update-Server: 127.0.0.1/patch/\n%i files, %.1f %s ~\x7F\x01";
    EXPECT_EQ(Cp1252ToUtf8(ascii.c_str()), ascii);
}

TEST(Cp1252ToUtf8, GermanLettersBecomeTheirUtf8Form) {
    EXPECT_EQ(Cp1252ToUtf8("\xE4\xF6\xFC\xC4\xD6\xDC\xDF"), "äöüÄÖÜß");
    EXPECT_EQ(Cp1252ToUtf8("Update-Gr\xF6\xDF"
                           "e:"),
              "Update-Größe:");
}

TEST(Cp1252ToUtf8, TheRangeAboveA0IsLatin1) {
    EXPECT_EQ(Cp1252ToUtf8("\xA0\xA9\xB0\xBF\xC0\xE9\xF7\xFF"), "\u00A0©°¿Àé÷ÿ");
}

TEST(Cp1252ToUtf8, TheRow80To9FMapsToItsTypographicCharacters) {
    std::string row;
    for (int byte = 0x80; byte <= 0x9F; ++byte) {
        row += static_cast<char>(byte);
    }
    // Undefined bytes stay as the C1 control of the same value.
    EXPECT_EQ(Cp1252ToUtf8(row.c_str()),
              "€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F"
              "\u0090‘’“”•–—˜™š›œ\u009DžŸ");
}

TEST(Cp1252ToUtf8, UndefinedBytesKeepTheirValueAsC1Controls) {
    EXPECT_EQ(Cp1252ToUtf8("a\x81"
                           "b"),
              "a\xC2\x81"
              "b");
    EXPECT_EQ(Cp1252ToUtf8("\x8D\x8F\x90\x9D"), "\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
}

TEST(Cp1252ToUtf8, EveryByteBecomesOneValidDistinctCharacter) {
    std::set<char32_t> seen;
    for (int byte = 1; byte <= 0xFF; ++byte) {
        const char in[2] = {static_cast<char>(byte), '\0'};
        std::u32string decoded;
        ASSERT_TRUE(DecodeUtf8(Cp1252ToUtf8(in), decoded)) << "byte " << byte;
        ASSERT_EQ(decoded.size(), 1u) << "byte " << byte;
        EXPECT_TRUE(seen.insert(decoded[0]).second) << "byte " << byte << " collides";
        EXPECT_NE(decoded[0], U'\uFFFD') << "byte " << byte;
    }
    EXPECT_EQ(seen.size(), 255u);
}

TEST(Cp1252ToUtf8, StopsAtTheTerminator) {
    const char text[] = {'\xFC', '\0', '\xFC', '\0'};
    EXPECT_EQ(Cp1252ToUtf8(text), "ü");
}

}  // namespace
