#include "net/field_helpers.h"

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

void StreamLn(std::ostream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.write("\r\n", 2);
}
