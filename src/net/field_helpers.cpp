#include "net/field_helpers.h"

#include <climits>

std::string NthWord(const std::string& text, char separator, int n) {
    std::string result;
    int count = 0;
    for (char c : text) {
        if (c == separator) {
            ++count;
            if (count >= n) {
                break;
            }
        } else if (count == n - 1) {
            result += c;
        }
    }
    return result;
}

int NthPos(const std::string& text, char separator, int n) {
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == separator && ++count == n) {
            return static_cast<int>(i) + 1;
        }
    }
    return static_cast<int>(text.size()) + 1;
}

bool ParseInt32(const std::string& text, int32_t* value) {
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

void StreamLn(std::ostream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.write("\r\n", 2);
}
