#include "net/http_client.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>

#include "net/field_helpers.h"
#include "net/url_coder.h"
#include "net/uu_processor.h"

namespace {

const char* const kVerbs[] = {"GET ",  "OPTIONS ", "HEAD ", "POST ",   "PUT ",   "PATCH ", "COPY ",
                              "MOVE ", "DELETE ",  "LINK ", "UNLINK ", "TRACE ", ""};

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!ParseInt32(text, &value)) {
        throw std::runtime_error("'" + text + "' is not a valid integer value");
    }
    return value;
}

std::string LowerCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
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

}  // namespace

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() = default;

// ---- request methods --------------------------------------------------------------

void THttpClient::Get(const std::string& url) {
    RequestURL = url;
    CurrentCmd = CmdGET;
    HTTPConnect();
}

base::Result<> THttpClient::Fetch(const std::string& url) {
    try {
        Get(url);
        return {};
    } catch (const EFileError& error) {
        return base::Fail(error.what(), error.path, error.code);
    } catch (const std::exception& error) {
        return base::Fail(error.what());
    }
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
            StoredAt = -1;
            bool stored = true;
            if (InputFileMode && ResumeFrom >= 0) {
                StoredAt = StoragePoint();
                stored = StoredAt >= 0;
                if (stored) {
                    CaptureFrom(StoredAt, limit);
                } else {
                    ReceivedBytes = 0;
                }
            } else if (InputFileMode) {
                StoredAt = 0;
                CaptureFile(Body, limit);
            } else {
                CaptureString(Body, -1, limit);
            }
            if (watching) {
                watching = false;
                StallWatchOff();
            }
            const int status = StatusCode;
            // A part of the document that does not continue the file is
            // no answer to the request.
            const bool refused = !stored && status == 206;
            if (stored && limit >= 0 && CapturedBytes() > limit) {
                // The rest is not wanted: the response ends here as if the
                // server had closed it, so a server cannot fill the disk.
                Disconnect();
            } else if (stored && ClosedByPeer() && ExpectedBytes > 0 &&
                       CapturedBytes() < ExpectedBytes && BodyExpected(CurrentCmd, status)) {
                // A broken transfer must not pass for the whole document.
                throw ESockError("Connection closed after " + std::to_string(CapturedBytes()) +
                                 " of " + std::to_string(ExpectedBytes) + " bytes");
            }
            // Redirects are followed up to a bound, so servers that point
            // at each other cannot keep the client busy for ever; 303, 307
            // and 308 only with a location of their own.
            follow = IsRedirect(status) && (status <= 302 || response_.LocationReceived) &&
                     redirects < kMaxRedirects;
            if (status < 300 && !refused) {
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

std::string BasicAuthorization(const std::string& userId, const std::string& password) {
    std::stringstream credentials(userId + ":" + password);
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
    return "Basic " + token;
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
        HeaderLines.SetValue("Authorization",
                             BasicAuthorization(HeaderInfo.UserId, HeaderInfo.Password));
    }
    if (InputFileMode && ResumeFrom > 0) {
        HeaderLines.Add("Range: bytes=" + std::to_string(ResumeFrom) + "-");
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
    response_ = THttpResponseHeader();
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
    response_.TakeStatusLine(line);
    if (response_.StatusSeen) {
        StatusCode = response_.StatusCode;
    }
    store(line);
    bool more = true;
    while (more) {
        line = readLine();
        more = response_.TakeLine(line);
        // Taken over line by line, so that a header broken off halfway
        // leaves what its lines had said.
        ExpectedBytes = response_.ExpectedBytes;
        CookieReceived = response_.Cookie;
        if (response_.LocationReceived) {
            LocationValue = response_.Location;
        }
        store(line);
    }
}

void THttpClient::RefuseUnrequestedCoding() {
    // The request asks for no coding, and the body is stored as it comes:
    // a compressed or chunk-framed body would replace a document with
    // bytes nobody can read. Nothing of it is received.
    const std::string refused = response_.UnrequestedCoding();
    if (refused.empty()) {
        return;
    }
    ReceivedBytes = 0;
    if (!InputFileMode) {
        Body.clear();
    }
    throw ESockError("Response not accepted: " + refused);
}

int64_t THttpClient::StoragePoint() const {
    if (StatusCode == 206) {
        const std::optional<TContentRange>& range = response_.ContentRange;
        const bool continues = range && range->start == ResumeFrom &&
                               (ResumeTotal < 0 || range->total < 0 || range->total == ResumeTotal);
        return continues ? ResumeFrom : -1;
    }
    return StatusCode >= 200 && StatusCode < 300 && BodyExpected(CurrentCmd, StatusCode) ? 0 : -1;
}

void THttpClient::CaptureFrom(int64_t offset, int64_t limit) {
    if (offset == 0) {
        CaptureFile(Body, limit);
        return;
    }
    const auto systemError = [] { return std::error_code(errno, std::generic_category()); };
    // Bytes past the offset are none the request asked to keep.
    std::error_code error;
    const uintmax_t held = std::filesystem::file_size(Body, error);
    if (!error && held != static_cast<uintmax_t>(offset)) {
        std::filesystem::resize_file(Body, static_cast<uintmax_t>(offset), error);
    }
    if (error) {
        throw EFileError("Cannot open file \"" + Body + "\"", Body, error);
    }
    std::ofstream file(Body, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) {
        throw EFileError("Cannot open file \"" + Body + "\"", Body, systemError());
    }
    // The capture stops once the file position reaches its limit; -1 would
    // make it a single receive.
    const int64_t end = limit >= 0 ? offset + limit + 1 : INT32_MAX;
    try {
        CaptureStream(file, static_cast<int32_t>(std::min<int64_t>(end, INT32_MAX)));
    } catch (const std::runtime_error&) {
        if (file.bad()) {
            throw EFileError("Stream write error", Body, systemError());
        }
        throw;
    }
    file.close();
    if (!file) {
        throw EFileError("Stream write error", Body, systemError());
    }
}
