#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

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

TEST(Cp1252Codec, Cp1252BecomesUtf8AndBack) {
    struct Case {
        std::string cp1252;
        std::string utf8;
    };
    const Case cases[] = {
        {"Version &Pr\xFC"
         "fen",
         "Version &Pr\xC3\xBC"
         "fen"},
        {"Update-Gr\xF6\xDF"
         "e:",
         "Update-Gr\xC3\xB6\xC3\x9F"
         "e:"},
        {"\x80 \x85 \x99", "\xE2\x82\xAC \xE2\x80\xA6 \xE2\x84\xA2"},  // euro, ellipsis, TM
        {"\xC4\xD6\xDC\xE4", "\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4"},
        {"plain ASCII\n", "plain ASCII\n"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},  // a NUL is a character here
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8) << c.cp1252;
        EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.utf8;
    }
}

TEST(Cp1252Codec, EveryByteSurvivesTheRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = Cp1252ToUtf8(all);
    std::u32string decoded;
    EXPECT_TRUE(DecodeUtf8(utf8, decoded));
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    const std::u16string utf16 = Cp1252ToUtf16(all);
    ASSERT_EQ(utf16.size(), decoded.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        EXPECT_EQ(utf16[i], decoded[i]) << "byte " << i + 1;
    }
    EXPECT_EQ(Utf16ToCp1252(utf16), all);
}

TEST(Cp1252Codec, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
    struct Case {
        std::string utf8;
        std::string cp1252;
    };
    const Case cases[] = {
        {"\xE2\x86\x92", "?"},  // an arrow
        {"a\xF0\x9F\x8C\x8A"
         "b",
         "a?b"},        // a four-byte character
        {"\xC3", "?"},  // cut short at the end
        {"\xE2\x82"
         "x",
         "?x"},             // cut short before a letter
        {"\xC0\xAF", "?"},  // an overlong "/"
        {"\xFF"
         "z",
         "?z"},  // no UTF-8 lead byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252);
    }
    // The same from UTF-16, where nothing is mapped to a look-alike: a full-
    // width colon or solidus must not turn an address into another one.
    const std::pair<std::u16string, std::string> wide[] = {
        {u"\u2192", "?"},
        {u"a\U0001F30Ab", "a?b"},                  // a surrogate pair
        {std::u16string(u"\xD83Cx", 2), "?x"},     // a lone high surrogate
        {u"http\uFF1A\uFF0F\uFF0Fx", "http???x"},  // full-width ":" and "/"
        {u"\u0100", "?"},                          // no best fit to "A"
    };
    for (const auto& [utf16, cp1252] : wide) {
        EXPECT_EQ(Utf16ToCp1252(utf16), cp1252) << cp1252;
    }
}

}  // namespace
