// Feeds arbitrary response headers to THttpResponseHeader, cut into lines
// as the transport's ReadLn hands them over, and then, as the client does
// after a redirect, sends the next request to the header's location with
// its cookie: THttpClient::ParseURL and AssembleHTTPHeader on that text.
//
// Whatever the bytes, the taken values must keep their bounds, a transfer
// coding must be refused, and no line of the next request may hold a line
// break that a server could have slipped into it.
//
//   fuzz/run.sh 600 http_header

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "net/http_client.h"
#include "net/http_response_header.h"

namespace {

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The next line as ReadLn gives it: up to and with its LF; the rest of a
// connection that closes inside a line is lost, and the empty text says so.
std::string NextLine(std::string_view& rest) {
    const size_t lf = rest.find('\n');
    if (lf == std::string_view::npos || lf >= static_cast<size_t>(TSockTransport::kMaxLineLength)) {
        rest = {};
        return std::string();
    }
    std::string line(rest.substr(0, lf + 1));
    rest.remove_prefix(lf + 1);
    return line;
}

THttpClient& Client() {
    static THttpClient* client = new THttpClient();
    return *client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    THttpResponseHeader header;
    header.TakeStatusLine(NextLine(rest));
    // The header's own end, or the end of the connection, whichever first.
    while (header.TakeLine(NextLine(rest))) {
    }

    if (header.Cookie.size() > 256 || header.Location.size() > 256 || header.ExpectedBytes < 0 ||
        (!header.LocationReceived && !header.Location.empty())) {
        std::abort();
    }
    // A transfer coding is refused whatever it is.
    if (header.TransferEncoded && header.UnrequestedCoding().empty()) {
        std::abort();
    }
    if (!header.LocationReceived) {
        return 0;
    }

    // The redirect: the location becomes the next request, the cookie one
    // of its lines.
    THttpClient& client = Client();
    client.Host = "update.brinefall.example";
    client.Port = 80;
    client.Proxy.clear();
    client.CurrentCmd = CmdGET;
    client.HeaderInfo = THeaderInfo();
    client.HeaderInfo.LocalProgram = "Brinefall updater";
    client.HeaderInfo.Cookie = header.Cookie;
    client.RequestURL = header.Location;
    if (client.RequestURL.find('/') == std::string::npos) {
        client.RequestURL = "http://" + client.Host + "/" + client.RequestURL;
    }
    try {
        client.ParseURL();
    } catch (const std::exception&) {
        return 0;  // refused as the exchange would refuse it
    }
    if (client.RequestPath.empty() || client.RequestPath.size() > 256) {
        std::abort();
    }
    client.AssembleHTTPHeader();
    for (int i = 0; i < client.HeaderLines.Count(); ++i) {
        if (HasLineBreak(client.HeaderLines[i])) {
            std::abort();
        }
    }
    return 0;
}
