// Base64 and uuencode coding between two caller-owned streams. The HTTP
// client encodes the credentials of its Basic authorization line with it.
#pragma once

#include <functional>
#include <istream>
#include <ostream>

enum UUMethods { uuMime = 0, uuCode = 1 };

// The uuencode alphabet: the grave accent for 0, then "!" to "_".
extern const char UUTABLE[65];
// The Base64 alphabet.
extern const char MimeTable[65];
// Base64 values of the characters "+" to "z": 64 for "=", 127 for characters
// outside the alphabet.
extern const unsigned char base64Table[80];

class TUUProcessor {
public:
    using TNotifyEvent = std::function<void(TUUProcessor* sender)>;

    UUMethods Method = uuMime;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // Set by the caller before Encode or Decode; not owned.
    std::istream* InputStream = nullptr;
    std::ostream* OutputStream = nullptr;

    // Encodes all of InputStream into lines of at most 45 input bytes, each
    // ended by CR LF; uuencode adds a last line with the zero-length mark.
    // OutputStream is rewound to its start afterwards, also on failure.
    void Encode();
    // Decodes line by line. Characters outside the alphabet are skipped; a
    // Base64 "=" ends its line, a uuencode line of length 0 ends the input.
    void Decode();

private:
    void DecodeMime();
    void DecodeUU();
};
