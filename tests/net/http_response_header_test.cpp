// THttpResponseHeader on header lines as the transport hands them over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/http_response_header.h"

namespace {

TEST(ResponseHeader, LocationAndCookieEndAtTheFirstLineBreak) {
    // A CR inside a value must not reach the next request, where it would
    // start a line of the server's choosing.
    const struct {
        std::string line, location, cookie;
    } cases[] = {
        {"Location: http://a.example/x\r\n", "http://a.example/x", ""},
        {"Location: http://a.example/x\r\rX-Evil: 1\r\n", "http://a.example/x", ""},
        {"Set-Cookie: id=1\rCookie: admin=1\r\n", "", "id=1"},
        {"Set-Cookie: id=1\r\r\n", "", "id=1"},
        {"Location: " + std::string(300, 'p') + "\n", std::string(256, 'p'), ""},
    };
    for (const auto& c : cases) {
        THttpResponseHeader header;
        header.TakeStatusLine("HTTP/1.0 302 Found\r\n");
        EXPECT_TRUE(header.TakeLine(c.line));
        EXPECT_FALSE(header.TakeLine("\r\n"));
        EXPECT_EQ(header.StatusCode, 302);
        EXPECT_EQ(header.Location, c.location) << c.line;
        EXPECT_EQ(header.Cookie, c.cookie) << c.line;
    }
}

TEST(ResponseHeader, ContentRangeIsTakenOnlyInItsExactForms) {
    // start, end, total; start -1: no range counts.
    const struct {
        std::vector<std::string> lines;
        int64_t start, end, total;
    } cases[] = {
        {{"Content-Range: bytes 100-199/200\r\n"}, 100, 199, 200},
        {{"Content-Range: bytes 0-0/*\n"}, 0, 0, -1},
        {{"content-range: bytes 5-9/10\r\n"}, 5, 9, 10},
        {{"Content-Range: bytes 100-199/150\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 200-100/300\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes -1-99/200\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 100-/200\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes */200\r\n"}, -1, 0, 0},
        {{"Content-Range: items 0-9/10\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 0-9/10 \r\n"}, -1, 0, 0},
        {{"Content-Range: bytes  0-9/10\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 0-9/10\rX: 1\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 0-99999999999999999999/*\r\n"}, -1, 0, 0},
        {{"Content-Range: bytes 0-9/10\r\n", "Content-Range: bytes 0-9/10\r\n"}, -1, 0, 0},
    };
    for (const auto& c : cases) {
        THttpResponseHeader header;
        header.TakeStatusLine("HTTP/1.0 206 Partial Content\r\n");
        for (const std::string& line : c.lines) {
            header.TakeLine(line);
        }
        ASSERT_EQ(header.ContentRange.has_value(), c.start >= 0) << c.lines[0];
        if (c.start >= 0) {
            EXPECT_EQ(header.ContentRange->start, c.start) << c.lines[0];
            EXPECT_EQ(header.ContentRange->end, c.end) << c.lines[0];
            EXPECT_EQ(header.ContentRange->total, c.total) << c.lines[0];
        }
    }
}

}  // namespace
