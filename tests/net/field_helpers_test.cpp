#include <gtest/gtest.h>

#include <sstream>

#include "net/field_helpers.h"

namespace {

TEST(NthWord, CutsStatusLinesAndUrlsIntoFields) {
    EXPECT_EQ(NthWord("HTTP/1.0 200 OK", ' ', 2), "200");
    EXPECT_EQ(NthWord("http://host/path", '/', 3), "host");
    EXPECT_EQ(NthWord("http://host/path", '/', 4), "path");
    EXPECT_EQ(NthWord("http://host/path", ':', 1), "http");
}

TEST(NthWord, EmptyFieldsCountAndMissingFieldsAreEmpty) {
    EXPECT_EQ(NthWord("a::b", ':', 1), "a");
    EXPECT_EQ(NthWord("a::b", ':', 2), "");
    EXPECT_EQ(NthWord("a::b", ':', 3), "b");
    EXPECT_EQ(NthWord("a::b", ':', 4), "");
    EXPECT_EQ(NthWord("", ':', 1), "");
    // The status field of a line without a reason keeps the line end.
    EXPECT_EQ(NthWord("HTTP/1.0 200\r\n", ' ', 2), "200\r\n");
}

TEST(NthPos, FindsTheNthSeparatorOrOnePastTheEnd) {
    EXPECT_EQ(NthPos("http://host/x", '/', 3), 12);
    EXPECT_EQ(NthPos("http://host", '/', 3), 12);
    EXPECT_EQ(NthPos("http://host/", '/', 3), 12);
    EXPECT_EQ(NthPos("http://host/", '/', 1), 6);
    EXPECT_EQ(NthPos("abc", '/', 1), 4);
}

TEST(StreamLn, WritesTheTextAndCrLf) {
    std::ostringstream out;
    StreamLn(out, "GET / HTTP/1.0");
    StreamLn(out, "");
    EXPECT_EQ(out.str(), "GET / HTTP/1.0\r\n\r\n");
}

}  // namespace
