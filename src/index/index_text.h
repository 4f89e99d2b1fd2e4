// The text rules of the version index that every reader shares: how the
// text splits into lines, how a number is read, and the section keys.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace version_index {

// A fault in the version index: a number that is none, an entry cut off, a
// name that would leave the game directory.
class IndexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A line of a text and the offset where it starts.
struct TextLine {
    size_t start;
    std::string text;
};

// Splits a text into lines: they end at CR, LF or CR LF, a trailing line end
// adds no empty line, and a zero byte ends the text.
std::vector<TextLine> SplitTextLines(std::string_view text);
// The same lines without their offsets.
std::vector<std::string> SplitLines(std::string_view text);

// The lines of a text file; empty when it cannot be read.
std::vector<std::string> LoadTextLines(const std::string& path);

// A decimal integer with an optional sign and leading blanks; anything else
// raises IndexError.
int32_t ParseIndexInt(const std::string& text);

// The fields of the lines the publisher adds (deltas, bundles): 64
// lower-case hex digits; a size in plain decimal, no sign, no blank, no
// leading zero, at most 19 digits so that it cannot overflow.
bool IsSha256Hex(const std::string& text);
bool ParsePlainSize(const std::string& text, uint64_t* value);

// The fields of a signature line: separated by single blanks, the last of
// `count` takes the rest of the line (a file name may hold blanks).
std::vector<std::string> Fields(const std::string& line, size_t count);
// A decimal number of at most 20 digits that fits 64 bits; nothing else.
std::optional<uint64_t> ParseUnsigned(const std::string& text);

// A client's section starts at "[%04u.%u]" and may end at "{%04u.%u}".
std::string SectionKey(uint32_t version, uint32_t build);
std::string SectionEndKey(uint32_t version, uint32_t build);
// The version and build of a section key as SectionKey writes it; false for
// any other text.
bool ParseSectionKey(const std::string& text, uint32_t* version, uint32_t* build);

}  // namespace version_index
