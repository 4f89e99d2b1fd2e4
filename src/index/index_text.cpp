#include "index/index_text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "shared/base/s_text.h"

namespace version_index {

std::vector<TextLine> SplitTextLines(std::string_view text) {
    std::vector<TextLine> lines;
    const size_t end = std::min(text.find('\0'), text.size());
    size_t start = 0;
    while (start < end) {
        size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string_view::npos || stop > end) {
            stop = end;
        }
        lines.push_back({start, std::string(text.substr(start, stop - start))});
        if (stop < end && text[stop] == '\r' && stop + 1 < end && text[stop + 1] == '\n') {
            ++stop;
        }
        start = stop + 1;
    }
    return lines;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    for (TextLine& line : SplitTextLines(text)) {
        lines.push_back(std::move(line.text));
    }
    return lines;
}

std::vector<std::string> LoadTextLines(const std::string& path) {
    const std::optional<std::string> text = base::ReadWholeFile(path);
    return text ? SplitLines(*text) : std::vector<std::string>{};
}

int32_t ParseIndexInt(const std::string& text) {
    const size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) {
        throw IndexError("'" + text + "' is not a valid integer value");
    }
    const size_t digits = (text[i] == '-' || text[i] == '+') ? i + 1 : i;
    if (digits >= text.size() ||
        text.find_first_not_of("0123456789", digits) != std::string::npos) {
        throw IndexError("'" + text + "' is not a valid integer value");
    }
    errno = 0;
    const long long value = std::strtoll(text.c_str() + i, nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        throw IndexError("'" + text + "' is not a valid integer value");
    }
    return static_cast<int32_t>(value);
}

std::string SectionKey(uint32_t version, uint32_t build) {
    return base::Printf("[%04u.%u]", version, build);
}

std::string SectionEndKey(uint32_t version, uint32_t build) {
    return base::Printf("{%04u.%u}", version, build);
}

bool ParseSectionKey(const std::string& text, uint32_t* version, uint32_t* build) {
    // Read back as written: the key of the numbers found must be the text.
    const size_t dot = text.find('.');
    if (text.size() < 4 || text.front() != '[' || text.back() != ']' || dot == std::string::npos) {
        return false;
    }
    const std::string versionText = text.substr(1, dot - 1);
    const std::string buildText = text.substr(dot + 1, text.size() - dot - 2);
    const auto digits = [](const std::string& part) {
        return !part.empty() && part.size() <= 10 &&
               part.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(versionText) || !digits(buildText)) {
        return false;
    }
    const unsigned long long v = std::strtoull(versionText.c_str(), nullptr, 10);
    const unsigned long long b = std::strtoull(buildText.c_str(), nullptr, 10);
    if (v > UINT32_MAX || b > UINT32_MAX ||
        SectionKey(static_cast<uint32_t>(v), static_cast<uint32_t>(b)) != text) {
        return false;
    }
    *version = static_cast<uint32_t>(v);
    *build = static_cast<uint32_t>(b);
    return true;
}

bool IsSha256Hex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool ParsePlainSize(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) {
        return false;
    }
    uint64_t result = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    *value = result;
    return true;
}

std::vector<std::string> Fields(const std::string& line, size_t count) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < count) {
        const size_t blank = line.find(' ', start);
        if (blank == std::string::npos) {
            break;
        }
        fields.push_back(line.substr(start, blank - start));
        start = blank + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::optional<uint64_t> ParseUnsigned(const std::string& text) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace version_index
