#include <gtest/gtest.h>

#include <string>

#include "net/url_coder.h"

namespace {

struct RecordedError {
    int count = 0;
    std::string operation;
    std::string message;
};

TEST(TUrlCoder, EncodesEverythingButLettersAndDigits) {
    TUrlCoder coder;
    EXPECT_EQ(coder.URLEncode("a b/c"), "a+b%2Fc");
    EXPECT_EQ(coder.URLEncode("AZaz09-_.~"), "AZaz09%2D%5F%2E%7E");
    EXPECT_EQ(coder.URLEncode(std::string("\x00\xff\x80", 3)), "%00%FF%80");
    EXPECT_EQ(coder.URLEncode(""), "");
    coder.InputString = "x=1&y=2";
    EXPECT_EQ(coder.GetEncodeString(), "x%3D1%26y%3D2");
}

TEST(TUrlCoder, DecodesPlusAndHexInEitherCase) {
    TUrlCoder coder;
    EXPECT_EQ(coder.URLDecode("a+b%2fc"), "a b/c");
    EXPECT_EQ(coder.URLDecode("%41%e4"), "A\xe4");
    coder.InputString = "x%3D1";
    EXPECT_EQ(coder.GetDecodeString(), "x=1");
}

TEST(TUrlCoder, BadEscapesReportAnErrorAndReturnTheInput) {
    TUrlCoder coder;
    RecordedError seen;
    coder.OnError = [&](TUrlCoder* sender, const std::string& op, const std::string& msg) {
        EXPECT_EQ(sender, &coder);
        ++seen.count;
        seen.operation = op;
        seen.message = msg;
    };
    EXPECT_EQ(coder.URLDecode("100%"), "100%");
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.operation, "Error during decode");
    EXPECT_FALSE(seen.message.empty());
    EXPECT_EQ(coder.URLDecode("a%4"), "a%4");
    EXPECT_EQ(coder.URLDecode("a%zz+b"), "a%zz+b");
    EXPECT_EQ(seen.count, 3);
}

TEST(TUrlCoder, RoundTripOfEveryByteValue) {
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    TUrlCoder coder;
    EXPECT_EQ(coder.URLDecode(coder.URLEncode(all)), all);
    // Texts past 65,535 bytes are encoded in full.
    const std::string big(70000, '/');
    EXPECT_EQ(coder.URLEncode(big).size(), big.size() * 3);
}

}  // namespace
