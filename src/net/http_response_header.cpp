#include "net/http_response_header.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "net/field_helpers.h"

namespace {

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

// The value of a response line from a fixed position on, up to the line
// end, cut to 256 characters. A CR inside the line ends the value as well:
// locations and cookies go into the lines of the next request, where a line
// break would start a line of the server's choosing.
std::string ValueFrom(const std::string& line, size_t position) {
    if (line.size() <= position) {
        return std::string();
    }
    const size_t end = std::min<size_t>(line.find_first_of("\r\n", position) - position, 256);
    return line.substr(position, end);
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

// Without blanks, tabs and line ends at either end.
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A decimal number of up to 18 digits and nothing else.
bool ParseCount(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 18) {
        return false;
    }
    int64_t result = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
        result = result * 10 + (c - '0');
    }
    *value = result;
    return true;
}

}  // namespace

std::optional<TContentRange> THttpResponseHeader::ParseContentRange(const std::string& value) {
    const std::string unit = "bytes ";
    const size_t dash = value.find('-');
    const size_t slash = value.find('/');
    if (value.compare(0, unit.size(), unit) != 0 || dash == std::string::npos ||
        slash == std::string::npos || slash < dash) {
        return std::nullopt;
    }
    TContentRange range;
    const std::string total = value.substr(slash + 1);
    if (!ParseCount(value.substr(unit.size(), dash - unit.size()), &range.start) ||
        !ParseCount(value.substr(dash + 1, slash - dash - 1), &range.end) ||
        (total != "*" && !ParseCount(total, &range.total)) || range.start > range.end ||
        (range.total >= 0 && range.end >= range.total)) {
        return std::nullopt;
    }
    return range;
}

void THttpResponseHeader::TakeStatusLine(const std::string& line) {
    if (line.empty()) {
        return;
    }
    // The status follows the version up to a blank or the line end, so a
    // status line without a reason ("HTTP/1.0 404") still gives 404.
    std::string field = NthWord(line, ' ', 2);
    field = field.substr(0, field.find_first_of("\r\n"));
    int32_t status = 0;
    ParseInt32(field, &status);
    StatusSeen = true;
    StatusCode = static_cast<int16_t>(static_cast<uint16_t>(status));
}

bool THttpResponseHeader::TakeLine(const std::string& line) {
    const std::string name = NthWord(UpperCase(line), ' ', 1);
    if (name == "SET-COOKIE:") {
        Cookie = ValueFrom(line, 12);
    } else if (name == "LOCATION:") {
        Location = ValueFrom(line, 10);
        LocationReceived = true;
    } else if (name == "CONTENT-LENGTH:") {
        const std::string value = line.size() > 16 ? line.substr(16) : std::string();
        ExpectedBytes = FirstNumber(value);
        // The same run of digits in 64 bits, for bodies past 2 GiB.
        const size_t digits = value.find_first_of("0123456789");
        if (digits != std::string::npos) {
            ContentLength = 0;
            for (size_t i = digits; i < value.size() && i < digits + 18 &&
                                    std::isdigit(static_cast<unsigned char>(value[i]));
                 ++i) {
                ContentLength = ContentLength * 10 + (value[i] - '0');
            }
        }
    } else if (name == "CONTENT-RANGE:") {
        // Only the line end follows the value; a second line makes the
        // range doubtful, so none counts.
        std::string value = line.substr(15);
        if (value.size() >= 2 && value.compare(value.size() - 2, 2, "\r\n") == 0) {
            value.resize(value.size() - 2);
        } else if (!value.empty() && value.back() == '\n') {
            value.pop_back();
        }
        ContentRange = ++ContentRangeLines == 1 ? ParseContentRange(value) : std::nullopt;
        const std::string unsatisfied = "bytes */";
        int64_t total = -1;
        if (value.compare(0, unsatisfied.size(), unsatisfied) == 0 &&
            ParseCount(value.substr(unsatisfied.size()), &total)) {
            UnsatisfiedTotal = total;
        }
    }

    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        const std::string coding = UpperCase(Trimmed(line.substr(0, colon)));
        const std::string value = Trimmed(line.substr(colon + 1));
        if (coding == "CONTENT-ENCODING") {
            ContentEncoding = ContentEncoding.empty() ? value : ContentEncoding + ", " + value;
        } else if (coding == "TRANSFER-ENCODING") {
            TransferEncoded = true;
            TransferEncoding = TransferEncoding.empty() ? value : TransferEncoding + ", " + value;
        }
    }
    return !(line.empty() || line == "\n" || line == "\r\n");
}

std::string THttpResponseHeader::UnrequestedCoding() const {
    if (TransferEncoded) {
        return "Transfer-Encoding: " + TransferEncoding;
    }
    if (!ContentEncoding.empty() && LowerCase(ContentEncoding) != "identity") {
        return "Content-Encoding: " + ContentEncoding;
    }
    return std::string();
}
