#include "net/url_coder.h"

#include <exception>
#include <stdexcept>

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool IsAlphaNumeric(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string TUrlCoder::URLEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    try {
        std::string out;
        out.reserve(text.size() * 3);
        for (char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == ' ') {
                out += '+';
            } else if (IsAlphaNumeric(c)) {
                out += ch;
            } else {
                out += '%';
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
        }
        return out;
    } catch (const std::exception& e) {
        if (OnError) {
            OnError(this, "Error during encode", e.what());
        }
        return text;
    }
}

std::string TUrlCoder::URLDecode(const std::string& text) {
    try {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '+') {
                out += ' ';
            } else if (c == '%') {
                const std::string digits = text.substr(i + 1, 2);
                const int high = digits.size() == 2 ? HexValue(digits[0]) : -1;
                const int low = digits.size() == 2 ? HexValue(digits[1]) : -1;
                if (high < 0 || low < 0) {
                    throw std::invalid_argument("'$" + digits + "' is not a valid integer value");
                }
                out += static_cast<char>(high * 16 + low);
                i += 2;
            } else {
                out += c;
            }
        }
        return out;
    } catch (const std::exception& e) {
        if (OnError) {
            OnError(this, "Error during decode", e.what());
        }
        return text;
    }
}
