// THttpClient: an HTTP/1.0 client on the socket transport. One request
// method call runs the whole exchange before it returns (parse the URL,
// assemble the header, connect directly or through a proxy, send, read the
// response header, store the body in a text or a file) and reports the
// outcome through events, while the loop's messages keep being handled.
// Handlers may start the next request from inside OnSuccess.
//
// Outcome of a response: a status below 300 fires OnSuccess; a redirect
// (300 to 302, and 303, 307, 308 when they carry a Location line of their
// own) fires OnRedirect and requests the new location; every other status,
// and a redirect past the tenth of one request, fires OnFailure, so no
// answer repeats a request for ever. Socket, file and URL errors raise
// exceptions; so does a body that ends before its announced Content-Length,
// a response header past kMaxHeaderSize, and a response to be taken as the
// document (status below 300) whose body comes in a Transfer-Encoding or a
// Content-Encoding other than identity, which the client never asks for.
//
// A download that broke off can be continued (ResumeFrom): the request asks
// only for the rest, and the answer is appended to what the file holds when
// it says it continues there.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "net/ex_string_list.h"
#include "net/http_response_header.h"
#include "net/sock_transport.h"
#include "shared/base/s_result.h"

enum CmdType {
    CmdGET = 0,
    CmdOPTIONS = 1,
    CmdHEAD = 2,
    CmdPOST = 3,
    CmdPUT = 4,
    CmdPATCH = 5,
    CmdCOPY = 6,
    CmdMOVE = 7,
    CmdDELETE = 8,
    CmdLINK = 9,
    CmdUNLINK = 10,
    CmdTRACE = 11,
    CmdWRAPPED = 12,
};

// Values of optional request header lines.
class THeaderInfo {
public:
    std::string LocalMailAddress;
    std::string LocalProgram;
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
};

class HTTPException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using TResultEvent = std::function<void(CmdType cmd)>;

// The value of an Authorization line for these credentials: "Basic " and
// "user:password" in base64.
std::string BasicAuthorization(const std::string& userId, const std::string& password);

class THttpClient : public TSockTransport {
public:
    // Redirects followed for one request; the next one is a failure.
    static constexpr int kMaxRedirects = 10;
    // The longest response header, status line and blank line included.
    static constexpr int64_t kMaxHeaderSize = 1 << 20;

    THttpClient();
    ~THttpClient() override;

    // Published properties.
    std::string Body = "Default.htm";
    std::string Header = "Head.txt";
    THeaderInfo HeaderInfo;
    bool InputFileMode = false;   // the body goes to the file named by Body
    bool OutputFileMode = false;  // request data from a file; header to the file named by Header
    // 0: no limit. Otherwise receiving stops as soon as the stored body holds
    // more than this many bytes: the connection is closed and the response
    // is dispatched as if the server had closed it, with ReceivedBytes above
    // MaxBodySize so the caller can tell. The body holds at most
    // MaxBodySize plus one receive chunk.
    int32_t MaxBodySize = 0;
    // With InputFileMode: -1 (the default) stores the body of every answer
    // in the file named by Body, replacing it. 0 or more says that this file
    // already holds the first ResumeFrom bytes of the document (0: none);
    // the request then asks only for the rest ("Range: bytes=N-" for N above
    // 0), and only an answer to be taken as the document touches the file:
    // a 206 whose Content-Range starts at N is written after those N bytes
    // (the file cut there first), any other status below 300 replaces the
    // file. Every other answer leaves the file as it was, its body unread;
    // a 206 that does not continue the file fires OnFailure. MaxBodySize
    // counts the bytes of the response. Kept for the following requests.
    int64_t ResumeFrom = -1;
    // The document's size where the caller knows it (-1: not known): a 206
    // whose Content-Range gives another total is of another document and
    // does not continue the file either. Kept for the following requests.
    int64_t ResumeTotal = -1;
    // Where the body of the current or last response went in the file: N
    // for a continued 206, 0 for a body that replaced the file, -1 when
    // none was stored.
    int64_t StoredAt = -1;

    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // The request in progress.
    std::string RequestURL;
    std::string RequestPath;
    std::string TargetURL;
    std::string SendData;
    CmdType CurrentCmd = CmdGET;
    TExStringList HeaderLines;
    std::string LocationValue;
    std::string CookieReceived;
    bool EncodePostData = true;

    // Request methods.
    virtual void Get(const std::string& url);
    // Get for callers outside the network layer: the errors Get raises come
    // back as the result's reason, with the file and the system's code where
    // a local file could not be written.
    base::Result<> Fetch(const std::string& url);
    virtual void Options(const std::string& url);
    void Head(const std::string& url);
    void Delete(const std::string& url);
    void Post(const std::string& url, const std::string& data);
    void Put(const std::string& url, const std::string& data);
    void Patch(const std::string& url, const std::string& data);
    void Trace(const std::string& url, const std::string& data);
    void Wrapped(const std::string& url, const std::string& data);
    void Copy(const std::string& url, const std::string& target);
    void Move(const std::string& url, const std::string& target);
    void Link(const std::string& url, const std::string& target);
    void UnLink(const std::string& url, const std::string& target);

    // Sets AsyncDone and cancels what is waiting.
    void Abort() override;

    // The steps of an exchange.
    virtual void HTTPConnect();
    virtual void ParseURL();
    virtual void AssembleHTTPHeader();
    virtual void RemoveHeader();
    virtual void SendHTTP();

    // What the last response header said.
    const THttpResponseHeader& Response() const { return response_; }

private:
    // With ResumeFrom set: where the body of the response just read belongs
    // in the file, -1 when the file is to stay as it was.
    int64_t StoragePoint() const;
    // Writes the body into the file named by Body from byte `offset` on,
    // keeping the bytes before it; stops above `limit` bytes (not negative).
    void CaptureFrom(int64_t offset, int64_t limit);
    // Raises when the response announced a transfer coding or a content
    // coding other than identity, before any of its body is stored.
    void RefuseUnrequestedCoding();

    // What the last response header said.
    THttpResponseHeader response_;
};
