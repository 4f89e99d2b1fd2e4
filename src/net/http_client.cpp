#include "net/http_client.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <memory>
#include <sstream>

#include "net/field_helpers.h"
#include "net/url_coder.h"
#include "net/uu_processor.h"

namespace {

const char* const kVerbs[] = {"GET ",  "OPTIONS ", "HEAD ", "POST ",   "PUT ",   "PATCH ", "COPY ",
                              "MOVE ", "DELETE ",  "LINK ", "UNLINK ", "TRACE ", ""};

// A decimal integer with an optional sign and nothing else; false when the
// text is none or does not fit 32 bits.
bool ParseInt(const std::string& text, int32_t* value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1) {
            return false;
        }
    }
    v = negative ? -v : v;
    if (v > INT32_MAX || v < INT32_MIN) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!ParseInt(text, &value)) {
        throw std::runtime_error("'" + text + "' is not a valid integer value");
    }
    return value;
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// The value of a response line from a fixed position on, without the line
// end, cut to 256 characters.
std::string ValueFrom(const std::string& line, size_t position) {
    std::string value = line.size() > position ? line.substr(position) : std::string();
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return value.substr(0, 256);
}

// The first run of decimal digits; 0 when there is none. Values past the
// 32-bit range stay at its end.
int32_t FirstNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

bool HasBody(CmdType cmd) {
    return cmd == CmdPOST || cmd == CmdPUT || cmd == CmdPATCH || cmd == CmdTRACE ||
           cmd == CmdWRAPPED;
}

// Responses that never carry a body, whatever length they announce.
bool BodyExpected(CmdType cmd, int status) {
    return cmd != CmdHEAD && !(status >= 100 && status < 200) && status != 204 && status != 304;
}

bool IsRedirect(int status) {
    return (status >= 300 && status <= 303) || status == 307 || status == 308;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Without blanks, tabs and line ends at either end.
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

// ---- request methods --------------------------------------------------------------

void THttpClient::Get(const std::string& url) {
    RequestURL = url;
    CurrentCmd = CmdGET;
    HTTPConnect();
}

void THttpClient::Options(const std::string& url) {
    RequestURL = url;
    CurrentCmd = CmdOPTIONS;
    HTTPConnect();
}

void THttpClient::Head(const std::string& url) {
    RequestURL = url;
    CurrentCmd = CmdHEAD;
    HTTPConnect();
}

void THttpClient::Delete(const std::string& url) {
    RequestURL = url;
    CurrentCmd = CmdDELETE;
    HTTPConnect();
}

void THttpClient::Post(const std::string& url, const std::string& data) {
    RequestURL = url;
    if (EncodePostData && !OutputFileMode) {
        TUrlCoder coder;
        SendData = coder.URLEncode(data);
    } else {
        SendData = data;
    }
    CurrentCmd = CmdPOST;
    HTTPConnect();
}

void THttpClient::Put(const std::string& url, const std::string& data) {
    RequestURL = url;
    SendData = data;
    CurrentCmd = CmdPUT;
    HTTPConnect();
}

void THttpClient::Patch(const std::string& url, const std::string& data) {
    RequestURL = url;
    SendData = data;
    CurrentCmd = CmdPATCH;
    HTTPConnect();
}

void THttpClient::Trace(const std::string& url, const std::string& data) {
    RequestURL = url;
    SendData = data;
    CurrentCmd = CmdTRACE;
    HTTPConnect();
}

void THttpClient::Wrapped(const std::string& url, const std::string& data) {
    RequestURL = url;
    SendData = data;
    CurrentCmd = CmdWRAPPED;
    HTTPConnect();
}

void THttpClient::Copy(const std::string& url, const std::string& target) {
    RequestURL = url;
    TargetURL = target;
    CurrentCmd = CmdCOPY;
    HTTPConnect();
}

void THttpClient::Move(const std::string& url, const std::string& target) {
    RequestURL = url;
    TargetURL = target;
    CurrentCmd = CmdMOVE;
    HTTPConnect();
}

void THttpClient::Link(const std::string& url, const std::string& target) {
    RequestURL = url;
    TargetURL = target;
    SendData = "Send.dat";
    CurrentCmd = CmdLINK;
    HTTPConnect();
}

void THttpClient::UnLink(const std::string& url, const std::string& target) {
    RequestURL = url;
    TargetURL = target;
    SendData = "Send.dat";
    CurrentCmd = CmdUNLINK;
    HTTPConnect();
}

void THttpClient::Abort() {
    AsyncDone = true;
    Cancel();
}

// ---- the exchange -------------------------------------------------------------------

void THttpClient::HTTPConnect() {
    int redirects = 0;
    for (;;) {
        ParseURL();
        AssembleHTTPHeader();
        if (OnAboutToSend) {
            OnAboutToSend(this);
        }
        bool follow = false;
        bool watching = false;
        try {
            Connect();
            SendHTTP();
            StatusCode = 0;
            // One stall watch covers the whole response, header included: a
            // server that trickles header lines is as stuck as one that
            // trickles the body, and each line on its own would be too
            // short to tell.
            watching = StallWatchOn();
            RemoveHeader();
            if (StatusCode < 300 && BodyExpected(CurrentCmd, StatusCode)) {
                RefuseUnrequestedCoding();
            }
            const int64_t limit = MaxBodySize > 0 ? MaxBodySize : -1;
            if (InputFileMode) {
                CaptureFile(Body, limit);
            } else {
                CaptureString(Body, -1, limit);
            }
            if (watching) {
                watching = false;
                StallWatchOff();
            }
            const int status = StatusCode;
            if (limit >= 0 && CapturedBytes() > limit) {
                // The rest is not wanted: the response ends here as if the
                // server had closed it, so a server cannot fill the disk.
                Disconnect();
            } else if (ClosedByPeer() && ExpectedBytes > 0 && CapturedBytes() < ExpectedBytes &&
                       BodyExpected(CurrentCmd, status)) {
                // A broken transfer must not pass for the whole document.
                throw ESockError("Connection closed after " + std::to_string(CapturedBytes()) +
                                 " of " + std::to_string(ExpectedBytes) + " bytes");
            }
            // Redirects are followed up to a bound, so servers that point
            // at each other cannot keep the client busy for ever; 303, 307
            // and 308 only with a location of their own.
            follow = IsRedirect(status) && (status <= 302 || locationReceived_) &&
                     redirects < kMaxRedirects;
            if (status < 300) {
                if (OnSuccess) {
                    OnSuccess(CurrentCmd);
                }
                StatusMessage(2, "Transaction Completed");
            } else if (follow) {
                RequestURL = LocationValue;
                if (status == 303 && CurrentCmd != CmdGET && CurrentCmd != CmdHEAD) {
                    // "See other" asks for the other document, without the data.
                    CurrentCmd = CmdGET;
                    SendData.clear();
                }
            } else if (OnFailure) {
                OnFailure(CurrentCmd);
            }
        } catch (...) {
            if (watching) {
                StallWatchOff();
            }
            try {
                Disconnect();
            } catch (...) {
            }
            throw;
        }
        Disconnect();

        // The status is read again: a handler may have run a request of its own.
        if (StatusCode >= 300 && StatusCode <= 398) {
            if (!CookieReceived.empty()) {
                HeaderInfo.Cookie = CookieReceived;
            }
            if (follow) {
                bool handled = false;
                if (OnRedirect) {
                    OnRedirect(handled);
                }
                if (handled) {
                    return;
                }
                if (RequestURL.find('/') == std::string::npos) {
                    RequestURL = "http://" + Host + "/" + RequestURL;
                }
            }
        }
        if (StatusCode == 401 && OnAuthenticationNeeded) {
            OnAuthenticationNeeded(this);
        }
        if (follow && IsRedirect(StatusCode)) {
            ++redirects;
            continue;
        }
        return;
    }
}

void THttpClient::ParseURL() {
    if (RequestURL.empty()) {
        throw std::runtime_error("Empty URL");
    }
    if (Port == 0) {
        Port = 80;
    }
    const bool hasDoubleSlash = RequestURL.find("//") != std::string::npos;
    if (hasDoubleSlash) {
        RequestPath = RequestURL.substr(std::min<size_t>(
            static_cast<size_t>(NthPos(RequestURL, '/', 3)) - 1, RequestURL.size()));
    } else if (RequestURL.find('/') != std::string::npos) {
        RequestPath = RequestURL.substr(RequestURL.find('/'));
    } else {
        RequestPath.clear();
    }
    RequestPath = RequestPath.substr(0, 256);

    if (RequestURL.find(':') != std::string::npos) {
        const std::string scheme = LowerCase(NthWord(RequestURL, ':', 1));
        if (scheme == "gopher") {
            Port = 70;
        } else if (scheme == "ftp") {
            Port = 21;
        } else if (scheme == "https") {
            throw std::runtime_error("HTTP Secure Socket is not supported");
        } else {
            Port = 80;
        }
    }

    std::string hostPart;
    if (hasDoubleSlash) {
        hostPart = NthWord(RequestURL, '/', 3);
    } else if (RequestURL[0] != '/') {
        hostPart = NthWord(RequestURL, '/', 1);
    }
    if (hostPart.find(':') != std::string::npos) {
        Port = StrToInt(NthWord(hostPart, ':', 2));
        hostPart = hostPart.substr(0, hostPart.find(':'));
    }
    if (!hostPart.empty()) {
        Host = hostPart;
    }
    if (RequestPath.empty()) {
        RequestPath = "/";
        RequestURL += "/";
    }
}

void THttpClient::AssembleHTTPHeader() {
    HeaderLines.Clear();
    if (CurrentCmd != CmdWRAPPED) {
        HeaderLines.Add(std::string(kVerbs[CurrentCmd]) +
                        (Proxy.empty() ? RequestPath : RequestURL) + " HTTP/1.0");
    }
    if (!Proxy.empty()) {
        HeaderLines.Add("Proxy-Connection: Keep-Alive");
        HeaderLines.Add("Host: " + Host);
    }
    HeaderLines.SetValue("Host", Host);
    HeaderLines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    HeaderLines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo.LocalProgram.empty()) {
        HeaderLines.SetValue("User-Agent", HeaderInfo.LocalProgram);
    }
    if (!HeaderInfo.LocalMailAddress.empty()) {
        HeaderLines.SetValue("From", HeaderInfo.LocalMailAddress);
    }
    if (!HeaderInfo.Cookie.empty()) {
        HeaderLines.SetValue("Cookie", HeaderInfo.Cookie);
    }
    if (!HeaderInfo.Referer.empty()) {
        HeaderLines.SetValue("Referer", HeaderInfo.Referer);
    }
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        std::stringstream credentials(HeaderInfo.UserId + ":" + HeaderInfo.Password);
        std::stringstream encoded;
        TUUProcessor coder;
        coder.Method = uuMime;
        coder.InputStream = &credentials;
        coder.OutputStream = &encoded;
        coder.Encode();
        std::string token;
        for (char c : encoded.str()) {
            if (c != '\r' && c != '\n') {
                token += c;
            }
        }
        HeaderLines.SetValue("Authorization", "Basic " + token);
    }
    HeaderLines.Add("Content-type: application/x-www-form-urlencoded");
    if (CurrentCmd == CmdCOPY || CurrentCmd == CmdMOVE) {
        HeaderLines.Add("URI-header: " + TargetURL);
    } else if (CurrentCmd == CmdLINK || CurrentCmd == CmdUNLINK) {
        HeaderLines.Add("Link: " + TargetURL);
    }
    // Link and UnLink send no body, so they announce none: a length
    // without the bytes would leave the server waiting for them.
    if (HasBody(CurrentCmd)) {
        int64_t length = 0;
        if (OutputFileMode) {
            std::unique_ptr<std::FILE, FileCloser> file(std::fopen(SendData.c_str(), "rb"));
            if (!file) {
                throw std::runtime_error("Cannot open file \"" + SendData + "\"");
            }
            std::fseek(file.get(), 0, SEEK_END);
            length = std::ftell(file.get());
        } else {
            length = static_cast<int64_t>(SendData.size());
        }
        HeaderLines.Add("Content-Length: " + std::to_string(length));
    }
}

void THttpClient::SendHTTP() {
    Write(HeaderLines.Text());
    Writeln("");
    if (HasBody(CurrentCmd)) {
        if (OutputFileMode) {
            SendFile(SendData);
        } else {
            Write(SendData);
        }
    }
}

void THttpClient::RemoveHeader() {
    ExpectedBytes = 0;
    CookieReceived.clear();
    locationReceived_ = false;
    contentEncoding_.clear();
    transferEncoding_.clear();
    transferEncoded_ = false;
    std::unique_ptr<std::FILE, FileCloser> file;
    if (OutputFileMode) {
        file.reset(std::fopen(Header.c_str(), "wb"));
        if (!file) {
            throw std::runtime_error("Cannot create file \"" + Header + "\"");
        }
    } else {
        Header.clear();
    }
    const auto store = [&](const std::string& line) {
        if (file) {
            if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size()) {
                throw std::runtime_error("Stream write error");
            }
        } else {
            Header += line;
        }
    };

    // A server that sends header lines without end is stopped before they
    // fill the memory or the disk.
    int64_t headerSize = 0;
    const auto readLine = [&] {
        std::string text = ReadLn();
        headerSize += static_cast<int64_t>(text.size());
        if (headerSize > kMaxHeaderSize) {
            throw ESockError("Response header longer than " + std::to_string(kMaxHeaderSize) +
                             " bytes");
        }
        return text;
    };

    std::string line = readLine();
    if (!line.empty()) {
        // The status follows the version up to a blank or the line end, so a
        // status line without a reason ("HTTP/1.0 404") still gives 404.
        std::string field = NthWord(line, ' ', 2);
        field = field.substr(0, field.find_first_of("\r\n"));
        int32_t status = 0;
        ParseInt(field, &status);
        StatusCode = static_cast<int16_t>(static_cast<uint16_t>(status));
    }
    store(line);
    do {
        line = readLine();
        const std::string name = NthWord(UpperCase(line), ' ', 1);
        if (name == "SET-COOKIE:") {
            CookieReceived = ValueFrom(line, 12);
        } else if (name == "LOCATION:") {
            LocationValue = ValueFrom(line, 10);
            locationReceived_ = true;
        } else if (name == "CONTENT-LENGTH:") {
            ExpectedBytes = FirstNumber(line.size() > 16 ? line.substr(16) : std::string());
        }
        NoteCoding(line);
        store(line);
    } while (!(line.empty() || line == "\n" || line == "\r\n"));
}

void THttpClient::NoteCoding(const std::string& line) {
    // Matched however the server spaces the line: a coding that slipped
    // past here would be stored as if it were the document.
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
        return;
    }
    const std::string name = UpperCase(Trimmed(line.substr(0, colon)));
    const std::string value = Trimmed(line.substr(colon + 1));
    if (name == "CONTENT-ENCODING") {
        contentEncoding_ = contentEncoding_.empty() ? value : contentEncoding_ + ", " + value;
    } else if (name == "TRANSFER-ENCODING") {
        transferEncoded_ = true;
        transferEncoding_ = transferEncoding_.empty() ? value : transferEncoding_ + ", " + value;
    }
}

void THttpClient::RefuseUnrequestedCoding() {
    // The request asks for no coding, and the body is stored as it comes:
    // a compressed or chunk-framed body would replace a document with
    // bytes nobody can read. Nothing of it is received.
    std::string refused;
    if (transferEncoded_) {
        refused = "Transfer-Encoding: " + transferEncoding_;
    } else if (!contentEncoding_.empty() && LowerCase(contentEncoding_) != "identity") {
        refused = "Content-Encoding: " + contentEncoding_;
    } else {
        return;
    }
    ReceivedBytes = 0;
    if (!InputFileMode) {
        Body.clear();
    }
    throw ESockError("Response not accepted: " + refused);
}
