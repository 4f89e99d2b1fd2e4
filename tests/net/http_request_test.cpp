// URL parsing and header assembly: what the client will send, checked
// without a connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_test_support.h"
#include "net/http_client.h"

namespace {

struct Parsed {
    std::string url;
    std::string path;
    std::string host;
    int32_t port;
};

Parsed Parse(const std::string& url, const std::string& host = "", int32_t port = 0) {
    THttpClient client;
    client.Host = host;
    client.Port = port;
    client.RequestURL = url;
    client.ParseURL();
    return {client.RequestURL, client.RequestPath, client.Host, client.Port};
}

std::vector<std::string> HeaderOf(THttpClient& client, CmdType cmd, const std::string& url) {
    client.CurrentCmd = cmd;
    client.RequestURL = url;
    client.ParseURL();
    client.AssembleHTTPHeader();
    return client.HeaderLines.Lines();
}

const char kAccept1[] = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
const char kAccept2[] = "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
const char kContentType[] = "Content-type: application/x-www-form-urlencoded";

TEST(ParseURL, AHostWithoutPathGetsTheRootPath) {
    Parsed p = Parse("http://host");
    EXPECT_EQ(p.path, "/");
    EXPECT_EQ(p.url, "http://host/");
    EXPECT_EQ(p.host, "host");
    EXPECT_EQ(p.port, 80);
    p = Parse("http://host/");
    EXPECT_EQ(p.path, "/");
    EXPECT_EQ(p.url, "http://host/");
}

TEST(ParseURL, PortsFromSchemeAndHostPart) {
    Parsed p = Parse("host:8080/x");
    EXPECT_EQ(p.host, "host");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/x");
    p = Parse("http://h:81/patch/a");
    EXPECT_EQ(p.host, "h");
    EXPECT_EQ(p.port, 81);
    EXPECT_EQ(p.path, "/patch/a");
    EXPECT_EQ(Parse("ftp://host/x").port, 21);
    EXPECT_EQ(Parse("gopher://host/x").port, 70);
    // A port set by the caller is overwritten whenever the URL has a colon.
    EXPECT_EQ(Parse("http://host/x", "", 8000).port, 80);
    EXPECT_EQ(Parse("HTTP://host/x", "", 8000).port, 80);
}

TEST(ParseURL, APathAloneKeepsHostAndPort) {
    const Parsed p = Parse("/x", "kept", 8081);
    EXPECT_EQ(p.host, "kept");
    EXPECT_EQ(p.port, 8081);
    EXPECT_EQ(p.path, "/x");
    EXPECT_EQ(Parse("/x", "kept", 0).port, 80);
}

TEST(ParseURL, LongPathsAreCutTo256Characters) {
    const std::string path = "/" + std::string(300, 'p');
    const Parsed p = Parse("http://host" + path);
    EXPECT_EQ(p.path, path.substr(0, 256));
    EXPECT_EQ(p.url, "http://host" + path);
}

TEST(ParseURL, BadUrlsRaiseBeforeAnyConnection) {
    THttpClient client;
    EventRecorder recorder(client);
    try {
        client.Get("");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Empty URL");
    }
    try {
        client.Get("https://host/x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "HTTP Secure Socket is not supported");
    }
    try {
        client.Get("http://host:eighty/x");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "'eighty' is not a valid integer value");
    }
    EXPECT_TRUE(recorder.events.empty());
}

TEST(AssembleHTTPHeader, GetWithCredentialsLineByLine) {
    THttpClient client;
    client.HeaderInfo.UserId = "user";
    client.HeaderInfo.Password = "secret";
    const std::vector<std::string> expected = {
        "GET /patch/_versions.txt HTTP/1.0",     "Host: host", kAccept1, kAccept2,
        "Authorization: Basic dXNlcjpzZWNyZXQ=", kContentType};
    EXPECT_EQ(HeaderOf(client, CmdGET, "http://host/patch/_versions.txt"), expected);
}

TEST(AssembleHTTPHeader, ThroughAProxyTheRequestLineCarriesTheWholeUrl) {
    THttpClient client;
    client.Proxy = "proxy";
    client.ProxyPort = 3128;
    const std::vector<std::string> expected = {"GET http://host:8080/patch/x HTTP/1.0",
                                               "Proxy-Connection: Keep-Alive",
                                               "Host: host",
                                               kAccept1,
                                               kAccept2,
                                               kContentType};
    EXPECT_EQ(HeaderOf(client, CmdGET, "http://host:8080/patch/x"), expected);
    // The full URL is sent even when its path is longer than 256.
    const std::string longUrl = "http://host/" + std::string(300, 'q');
    EXPECT_EQ(HeaderOf(client, CmdGET, longUrl)[0], "GET " + longUrl + " HTTP/1.0");
}

TEST(AssembleHTTPHeader, HostLineNamesTheHostWithoutItsPort) {
    THttpClient client;
    EXPECT_EQ(HeaderOf(client, CmdGET, "http://host:8080/x")[1], "Host: host");
}

TEST(AssembleHTTPHeader, CredentialsNeedBothPartsAndStayOneToken) {
    THttpClient client;
    client.HeaderInfo.UserId = "user";
    for (const std::string& line : HeaderOf(client, CmdGET, "http://h/")) {
        EXPECT_EQ(line.find("Authorization"), std::string::npos);
    }
    client.HeaderInfo.UserId = std::string(40, 'u');
    client.HeaderInfo.Password = std::string(40, 'p');
    const auto lines = HeaderOf(client, CmdGET, "http://h/");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4].rfind("Authorization: Basic ", 0), 0u);
    // 81 bytes of credentials make 108 Base64 characters without a break.
    EXPECT_EQ(lines[4].size(), std::string("Authorization: Basic ").size() + 108);
}

TEST(AssembleHTTPHeader, OptionalLinesFromHeaderInfo) {
    THttpClient client;
    client.HeaderInfo.LocalProgram = "Brinefall Updater";
    client.HeaderInfo.LocalMailAddress = "ops@example.invalid";
    client.HeaderInfo.Cookie = "session=1";
    client.HeaderInfo.Referer = "http://r/";
    const std::vector<std::string> expected = {"HEAD / HTTP/1.0",
                                               "Host: h",
                                               kAccept1,
                                               kAccept2,
                                               "User-Agent: Brinefall Updater",
                                               "From: ops@example.invalid",
                                               "Cookie: session=1",
                                               "Referer: http://r/",
                                               kContentType};
    EXPECT_EQ(HeaderOf(client, CmdHEAD, "http://h/"), expected);
}

TEST(AssembleHTTPHeader, BodiesAnnounceTheirLength) {
    THttpClient client;
    client.SendData = "a=1";
    auto lines = HeaderOf(client, CmdPUT, "http://h/x");
    EXPECT_EQ(lines[0], "PUT /x HTTP/1.0");
    EXPECT_EQ(lines.back(), "Content-Length: 3");
    // A Get announces none.
    lines = HeaderOf(client, CmdGET, "http://h/x");
    EXPECT_EQ(lines.back(), kContentType);

    TempDir dir;
    WriteFile(dir.File("body.bin"), std::string(1234, 'b'));
    client.OutputFileMode = true;
    client.SendData = dir.File("body.bin");
    EXPECT_EQ(HeaderOf(client, CmdPOST, "http://h/x").back(), "Content-Length: 1234");
    client.SendData = dir.File("missing.bin");
    EXPECT_THROW(HeaderOf(client, CmdPOST, "http://h/x"), std::runtime_error);
}

TEST(AssembleHTTPHeader, TargetLinesOfCopyMoveLinkAndUnlink) {
    THttpClient client;
    client.TargetURL = "http://h/y";
    EXPECT_EQ(HeaderOf(client, CmdCOPY, "http://h/x").back(), "URI-header: http://h/y");
    EXPECT_EQ(HeaderOf(client, CmdMOVE, "http://h/x")[0], "MOVE /x HTTP/1.0");
    client.SendData = "Send.dat";
    // Link and UnLink send no body and so announce no length.
    EXPECT_EQ(HeaderOf(client, CmdLINK, "http://h/x").back(), "Link: http://h/y");
    EXPECT_EQ(HeaderOf(client, CmdUNLINK, "http://h/x")[0], "UNLINK /x HTTP/1.0");
}

TEST(AssembleHTTPHeader, WrappedHasNoRequestLine) {
    THttpClient client;
    client.SendData = "inner";
    const auto lines = HeaderOf(client, CmdWRAPPED, "http://h/x");
    EXPECT_EQ(lines[0], "Host: h");
    EXPECT_EQ(lines.back(), "Content-Length: 5");
}

}  // namespace
