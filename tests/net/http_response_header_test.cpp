// THttpResponseHeader on header lines as the transport hands them over.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
