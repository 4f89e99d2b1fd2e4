#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "net/uu_processor.h"

namespace {

std::string Encode(const std::string& input, UUMethods method) {
    std::stringstream in(input);
    std::stringstream out;
    TUUProcessor coder;
    coder.Method = method;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Encode();
    return out.str();
}

std::string Decode(const std::string& input, UUMethods method) {
    std::stringstream in(input);
    std::stringstream out;
    TUUProcessor coder;
    coder.Method = method;
    coder.InputStream = &in;
    coder.OutputStream = &out;
    coder.Decode();
    return out.str();
}

std::string Bytes(size_t n, unsigned seed) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s += static_cast<char>(seed >> 16);
    }
    return s;
}

TEST(TUUProcessor, Base64KnownVectors) {
    EXPECT_EQ(Encode("abc", uuMime), "YWJj\r\n");
    EXPECT_EQ(Encode("ab", uuMime), "YWI=\r\n");
    EXPECT_EQ(Encode("a", uuMime), "YQ==\r\n");
    EXPECT_EQ(Encode("", uuMime), "");
    EXPECT_EQ(Encode("user:secret", uuMime), "dXNlcjpzZWNyZXQ=\r\n");
    EXPECT_EQ(Encode("\xff\xfe\xfd", uuMime), "//79\r\n");
}

TEST(TUUProcessor, Base64LinesHoldFortyFiveBytes) {
    const std::string out = Encode(std::string(46, 'x'), uuMime);
    const size_t first = out.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(first, 60u);
    EXPECT_EQ(out.substr(first + 2), "eA==\r\n");
}

TEST(TUUProcessor, UuencodeKnownVectorAndEndLine) {
    // "Cat" is the classic example: length character "#", then "0V%T".
    EXPECT_EQ(Encode("Cat", uuCode), "#0V%T\r\n`\r\n");
    EXPECT_EQ(Encode("", uuCode), "`\r\n");
    const std::string out = Encode(std::string(45, '\0'), uuCode);
    EXPECT_EQ(out, "M" + std::string(60, '`') + "\r\n`\r\n");
}

TEST(TUUProcessor, RoundTripsOfEveryLengthAroundLineBoundaries) {
    for (size_t n : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 89u, 90u, 91u, 1000u}) {
        const std::string data = Bytes(n, static_cast<unsigned>(n));
        EXPECT_EQ(Decode(Encode(data, uuMime), uuMime), data) << n;
        EXPECT_EQ(Decode(Encode(data, uuCode), uuCode), data) << n;
    }
}

TEST(TUUProcessor, EventsFireAndTheOutputIsRewound) {
    std::stringstream in("hello");
    std::stringstream out;
    TUUProcessor coder;
    std::string order;
    coder.OnBeginEncode = [&](TUUProcessor*) { order += "B"; };
    coder.OnEndEncode = [&](TUUProcessor* c) {
        order += "E";
        EXPECT_EQ(c->OutputStream->tellp(), 0);
    };
    coder.InputStream = &in;
    coder.OutputStream = &out;
    in.seekg(3);  // the input is rewound before encoding
    coder.Encode();
    EXPECT_EQ(order, "BE");
    EXPECT_EQ(out.str(), "aGVsbG8=\r\n");
}

TEST(TUUProcessor, DecoderSkipsForeignCharacters) {
    EXPECT_EQ(Decode("YW Jj\r\n", uuMime), "abc");
    EXPECT_EQ(Decode("YWI=junk\r\nYQ==", uuMime), "aba");
}

}  // namespace
