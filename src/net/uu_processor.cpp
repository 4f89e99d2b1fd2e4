#include "net/uu_processor.h"

#include <stdexcept>
#include <string>

const char UUTABLE[65] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
const char MimeTable[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Indexed by character - '+'.
const unsigned char base64Table[80] = {
    62,  127, 127, 127, 63,                                     // + , - . /
    52,  53,  54,  55,  56,  57,  58,  59, 60, 61,              // 0 to 9
    127, 127, 127, 64,  127, 127, 127,                          // : ; < = > ? @
    0,   1,   2,   3,   4,   5,   6,   7,  8,  9,  10, 11, 12,  // A to M
    13,  14,  15,  16,  17,  18,  19,  20, 21, 22, 23, 24, 25,  // N to Z
    127, 127, 127, 127, 127, 127,                               // [ \ ] ^ _ `
    26,  27,  28,  29,  30,  31,  32,  33, 34, 35, 36, 37, 38,  // a to m
    39,  40,  41,  42,  43,  44,  45,  46, 47, 48, 49, 50, 51,  // n to z
};

namespace {

constexpr int kLineBytes = 45;

std::streamoff StreamSize(std::istream& in) {
    const std::streamoff here = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(here);
    return size;
}

void Check(const std::ios& stream, const char* what) {
    if (stream.bad() || stream.fail()) {
        throw std::runtime_error(what);
    }
}

}  // namespace

void TUUProcessor::Encode() {
    std::istream& in = *InputStream;
    std::ostream& out = *OutputStream;
    in.clear();
    in.seekg(0);
    if (OnBeginEncode) {
        OnBeginEncode(this);
    }
    const char* alphabet = Method == uuCode ? UUTABLE : MimeTable;
    try {
        const std::streamoff size = StreamSize(in);
        Check(in, "Stream read error");
        unsigned char chunk[kLineBytes];
        while (in.tellg() < size) {
            in.read(reinterpret_cast<char*>(chunk), kLineBytes);
            const int count = static_cast<int>(in.gcount());
            if (count <= 0) {
                throw std::runtime_error("Stream read error");
            }
            in.clear();
            std::string line;
            if (Method == uuCode) {
                line += alphabet[count];
            }
            int i = 0;
            for (; i + 3 <= count; i += 3) {
                const unsigned v = (chunk[i] << 16) | (chunk[i + 1] << 8) | chunk[i + 2];
                line += alphabet[(v >> 18) & 63];
                line += alphabet[(v >> 12) & 63];
                line += alphabet[(v >> 6) & 63];
                line += alphabet[v & 63];
            }
            if (count - i == 1) {
                line += alphabet[chunk[i] >> 2];
                line += alphabet[(chunk[i] & 3) << 4];
                if (Method == uuMime) {
                    line += "==";
                }
            } else if (count - i == 2) {
                const unsigned v = (chunk[i] << 8) | chunk[i + 1];
                line += alphabet[(v >> 10) & 63];
                line += alphabet[(v >> 4) & 63];
                line += alphabet[(v & 15) << 2];
                if (Method == uuMime) {
                    line += '=';
                }
            }
            line += "\r\n";
            out.write(line.data(), static_cast<std::streamsize>(line.size()));
            Check(out, "Stream write error");
        }
        if (Method == uuCode) {
            out.write("`\r\n", 3);
            Check(out, "Stream write error");
        }
    } catch (...) {
        out.clear();
        out.seekp(0);
        if (OnEndEncode) {
            OnEndEncode(this);
        }
        throw;
    }
    out.seekp(0);
    if (OnEndEncode) {
        OnEndEncode(this);
    }
}

void TUUProcessor::Decode() {
    InputStream->clear();
    InputStream->seekg(0);
    if (OnBeginDecode) {
        OnBeginDecode(this);
    }
    if (Method == uuCode) {
        DecodeUU();
    } else {
        DecodeMime();
    }
    if (OnEndDecode) {
        OnEndDecode(this);
    }
}

void TUUProcessor::DecodeMime() {
    std::string line;
    std::string bytes;
    while (std::getline(*InputStream, line)) {
        unsigned bits = 0;
        int count = 0;
        for (char ch : line) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < '+' || c > 'z') {
                continue;
            }
            const unsigned char v = base64Table[c - '+'];
            if (v == 64) {
                break;  // padding ends the line's data
            }
            if (v == 127) {
                continue;
            }
            bits = (bits << 6) | v;
            count += 6;
            if (count >= 8) {
                count -= 8;
                bytes += static_cast<char>((bits >> count) & 0xFF);
            }
        }
        OutputStream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.clear();
    }
}

void TUUProcessor::DecodeUU() {
    std::string line;
    while (std::getline(*InputStream, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line.compare(0, 6, "begin ") == 0) {
            continue;
        }
        if (line == "end") {
            break;
        }
        const int length = (static_cast<unsigned char>(line[0]) - 32) & 63;
        if (length == 0) {
            break;
        }
        std::string bytes;
        unsigned bits = 0;
        int count = 0;
        for (size_t i = 1; i < line.size() && static_cast<int>(bytes.size()) < length; ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c < 32 || c > 96) {
                continue;
            }
            bits = (bits << 6) | ((c - 32) & 63);
            count += 6;
            if (count >= 8) {
                count -= 8;
                bytes += static_cast<char>((bits >> count) & 0xFF);
            }
        }
        OutputStream->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}
