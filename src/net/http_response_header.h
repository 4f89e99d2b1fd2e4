// THttpResponseHeader: what the HTTP client takes from a response header,
// read line by line as the transport's ReadLn hands the lines over (each
// with its LF and a CR before it, if any; an empty text when the connection
// closed). No socket is involved, so the header's rules can be exercised
// on text alone.
//
// Header names are matched only as the whole first space-separated field of
// the upper-cased line, so a name counts only when a space follows its
// colon, and the value is taken from a fixed position after it. The codings
// are matched however the line is spaced: a coding that slipped past would
// be stored as if it were the document.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The part of the document that a 206 answer carries: bytes `start` to
// `end`, both included, of `total` (-1 when the server did not say).
struct TContentRange {
    int64_t start = 0;
    int64_t end = 0;
    int64_t total = -1;
};

class THttpResponseHeader {
public:
    // The value of a Content-Range line, taken strictly: "bytes START-END/TOTAL"
    // or "bytes START-END/*" with decimal numbers, START not past END and END
    // inside TOTAL; nothing else. The body is written into a file at START,
    // so a range that is not exactly understood must not count.
    static std::optional<TContentRange> ParseContentRange(const std::string& value);

    // The status line; a non-empty one sets StatusSeen and StatusCode (the
    // second blank-separated field up to the line end, 0 when that is no
    // integer, taken to 16 bits).
    void TakeStatusLine(const std::string& line);
    // One header line after the status line. False when it ends the header:
    // exactly LF, exactly CR LF, or empty.
    bool TakeLine(const std::string& line);

    // "Transfer-Encoding: ..." or "Content-Encoding: ..." when the response
    // announced a transfer coding or a content coding other than identity,
    // which a client that asks for none cannot store as the document; empty
    // otherwise.
    std::string UnrequestedCoding() const;

    bool StatusSeen = false;
    int16_t StatusCode = 0;
    // The first run of digits of the last "Content-Length: " line; 0 when
    // there was none.
    int32_t ExpectedBytes = 0;
    // The same number in 64 bits; -1 when there was no such line.
    int64_t ContentLength = -1;
    // The values of the last "Set-Cookie: " and "Location: " lines, up to
    // the first CR or LF, at most 256 characters.
    std::string Cookie;
    bool LocationReceived = false;
    std::string Location;
    // The values of the Content-Encoding and Transfer-Encoding lines, joined
    // with ", " when there are several.
    std::string ContentEncoding;
    std::string TransferEncoding;
    bool TransferEncoded = false;
    // The range of the "Content-Range: " line; empty without one, when it is
    // malformed, and when there are several.
    std::optional<TContentRange> ContentRange;
    int ContentRangeLines = 0;
    // The document's size that a 416 answer gives as "Content-Range: bytes
    // */N" when the range asked for starts at or past its end; -1 without.
    int64_t UnsatisfiedTotal = -1;
};
