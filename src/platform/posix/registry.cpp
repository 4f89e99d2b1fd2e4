// Registry reads without a registry: each root key is a hive file in the
// text format the registry editor exports and imports, and a key is looked up
// in it when it is opened.
//
// Hive files:
//   HKEY_CURRENT_USER   $BRF_HKCU_FILE, else ${XDG_CONFIG_HOME:-$HOME/.config}/brinefall/user.reg
//   HKEY_LOCAL_MACHINE  $BRF_HKLM_FILE, else /etc/brinefall/system.reg
//   HKEY_CLASSES_ROOT   $BRF_HKCR_FILE, else none
//
// A file begins with "REGEDIT4" or "Windows Registry Editor Version 5.00" and
// is either 8-bit text (taken as Windows-1252), UTF-16LE with a byte-order
// mark or UTF-8 with one; the latter two are turned into Windows-1252, the
// code page the ANSI registry calls answer in. Sections name full key paths
// ([HKEY_CURRENT_USER\Software\Brinefall] or [HKCU\Software\Brinefall]);
// sections of another root are ignored. A key exists when a section names it
// or one of its sub-keys, as importing the file would create it; "[-key]"
// deletes a key with its sub-keys and "name"=- a value, in file order. Key
// and value names compare without regard to case.
//
// The file is read anew at every Open, so a changed file is seen by the next
// key opened; an open key keeps the values it found.
#include "platform/registry.h"

#include "platform/posix/registry_hive.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

namespace {

constexpr int32_t kErrorInvalidParameter = 87;

thread_local uint32_t tLastError = 0;

// ---------------------------------------------------------------------------
// Character sets

// Unicode code points of the Windows-1252 bytes 0x80 to 0x9F. The five bytes
// the code page leaves undefined stand for the C1 controls of the same value,
// as the Windows conversion has it.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// A Unicode code point as a Windows-1252 byte; '?' where the code page has
// none, as WideCharToMultiByte substitutes its default character.
char ToCp1252(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<char>(cp);
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == cp) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

// UTF-16LE bytes (without a byte-order mark) as Windows-1252 text. A pair of
// surrogates is one character and becomes one '?'; an odd last byte is dropped.
std::string Utf16ToCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                    static_cast<uint8_t>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const auto next = static_cast<char16_t>(static_cast<uint8_t>(bytes[i + 2]) |
                                                    static_cast<uint8_t>(bytes[i + 3]) << 8);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                i += 2;
            }
        }
        out += ToCp1252(unit);
    }
    return out;
}

// UTF-8 text as Windows-1252; a malformed sequence becomes '?' per byte.
std::string Utf8ToCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<uint8_t>(bytes[i]);
        size_t length = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            cp = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            cp = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            cp = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto cont = static_cast<uint8_t>(bytes[i + k]);
            valid = (cont & 0xC0) == 0x80;
            cp = cp << 6 | (cont & 0x3F);
        }
        if (!valid) {
            out += '?';
            ++i;
            continue;
        }
        out += ToCp1252(cp);
        i += length;
    }
    return out;
}

// Case folding for key and value names: ASCII and the letters of
// Windows-1252, which the registry compares without case.
char FoldChar(char c) {
    const auto b = static_cast<uint8_t>(c);
    if (b >= 'a' && b <= 'z') {
        return static_cast<char>(b - 0x20);
    }
    if (b >= 0xE0 && b <= 0xFE && b != 0xF7) {
        return static_cast<char>(b - 0x20);
    }
    switch (b) {
        case 0x9A:  // š
        case 0x9C:  // œ
        case 0x9E:  // ž
            return static_cast<char>(b - 0x10);
        case 0xFF:  // ÿ
            return static_cast<char>(0x9F);
        default:
            return c;
    }
}

std::string Fold(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = FoldChar(c);
    }
    return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldChar(a[i]) != FoldChar(b[i])) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The hive file

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string HivePath(RegRoot root) {
    switch (root) {
        case RegRoot::CurrentUser: {
            std::string path = EnvOrEmpty("BRF_HKCU_FILE");
            if (!path.empty()) {
                return path;
            }
            std::string config = EnvOrEmpty("XDG_CONFIG_HOME");
            if (config.empty()) {
                std::string home = EnvOrEmpty("HOME");
                if (home.empty()) {
                    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir) {
                        home = pw->pw_dir;
                    }
                }
                if (home.empty()) {
                    return {};
                }
                config = home + "/.config";
            }
            return config + "/brinefall/user.reg";
        }
        case RegRoot::LocalMachine: {
            std::string path = EnvOrEmpty("BRF_HKLM_FILE");
            return path.empty() ? std::string("/etc/brinefall/system.reg") : path;
        }
        case RegRoot::ClassesRoot:
            return EnvOrEmpty("BRF_HKCR_FILE");
    }
    return {};
}

bool RootNameMatches(RegRoot root, std::string_view name) {
    switch (root) {
        case RegRoot::CurrentUser:
            return EqualsIgnoreCase(name, "HKEY_CURRENT_USER") || EqualsIgnoreCase(name, "HKCU");
        case RegRoot::LocalMachine:
            return EqualsIgnoreCase(name, "HKEY_LOCAL_MACHINE") || EqualsIgnoreCase(name, "HKLM");
        case RegRoot::ClassesRoot:
            return EqualsIgnoreCase(name, "HKEY_CLASSES_ROOT") || EqualsIgnoreCase(name, "HKCR");
    }
    return false;
}

// Reads the whole file; a Win32 error code on failure.
int32_t ReadFile(const std::string& path, std::string& out) {
    if (path.empty()) {
        return kErrorFileNotFound;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? kErrorAccessDenied : kErrorFileNotFound;
    }
    out.clear();
    char buffer[16384];
    int32_t result = kErrorSuccess;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            out.append(buffer, static_cast<size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            // A directory or an unreadable device is no hive.
            result = kErrorFileNotFound;
            break;
        }
    }
    ::close(fd);
    return result;
}

// The file's text in Windows-1252, whatever encoding its byte-order mark names.
std::string DecodeText(std::string_view raw) {
    if (raw.size() >= 2 && static_cast<uint8_t>(raw[0]) == 0xFF &&
        static_cast<uint8_t>(raw[1]) == 0xFE) {
        return Utf16ToCp1252(raw.substr(2));
    }
    if (raw.size() >= 3 && static_cast<uint8_t>(raw[0]) == 0xEF &&
        static_cast<uint8_t>(raw[1]) == 0xBB && static_cast<uint8_t>(raw[2]) == 0xBF) {
        return Utf8ToCp1252(raw.substr(3));
    }
    return std::string(raw);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\0')) {
        s.remove_suffix(1);
    }
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

// A quoted text starting at s[0] == '"': \" and \\ stand for themselves, \n
// and \r for line ends; any other backslash is kept. Advances `s` past the
// closing quote; false if there is none.
bool ParseQuoted(std::string_view& s, std::string& out) {
    out.clear();
    size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < s.size()) {
            const char next = s[i + 1];
            if (next == '"' || next == '\\') {
                out += next;
                i += 2;
                continue;
            }
            if (next == 'n') {
                out += '\n';
                i += 2;
                continue;
            }
            if (next == 'r') {
                out += '\r';
                i += 2;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return false;
}

// Comma-separated hex bytes, blanks allowed, a ';' ending the list.
bool ParseHexBytes(std::string_view s, std::string& out) {
    out.clear();
    size_t i = 0;
    for (;;) {
        while (i < s.size() && (IsBlank(s[i]) || s[i] == ',')) {
            ++i;
        }
        if (i >= s.size() || s[i] == ';') {
            return true;
        }
        const int high = HexDigit(s[i]);
        const int low = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        if (high < 0 || low < 0) {
            return false;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
        if (i < s.size() && !IsBlank(s[i]) && s[i] != ',' && s[i] != ';') {
            return false;
        }
    }
}

// The data part of a value line, after the '='. `more` supplies the
// following lines for hex data continued with a trailing backslash.
// Returns false for data the file format does not know; `remove` is set for
// the "-" that deletes the value.
template <typename NextLine>
bool ParseData(std::string_view s, bool unicodeFile, NextLine&& more, HiveValue& value,
               bool& remove) {
    remove = false;
    if (!s.empty() && s.front() == '"') {
        if (!ParseQuoted(s, value.data)) {
            return false;
        }
        value.type = kRegSz;
        value.data += '\0';
        return true;
    }
    if (!s.empty() && s.front() == '-') {
        remove = true;
        return true;
    }
    if (StartsWithIgnoreCase(s, "dword:")) {
        std::string_view digits = TrimRight(s.substr(6));
        if (const size_t comment = digits.find(';'); comment != std::string_view::npos) {
            digits = TrimRight(digits.substr(0, comment));
        }
        if (digits.empty() || digits.size() > 8) {
            return false;
        }
        uint32_t number = 0;
        for (const char c : digits) {
            const int d = HexDigit(c);
            if (d < 0) {
                return false;
            }
            number = number << 4 | static_cast<uint32_t>(d);
        }
        value.type = kRegDword;
        value.data.assign({static_cast<char>(number & 0xFF), static_cast<char>(number >> 8 & 0xFF),
                           static_cast<char>(number >> 16 & 0xFF),
                           static_cast<char>(number >> 24)});
        return true;
    }
    if (!StartsWithIgnoreCase(s, "hex")) {
        return false;
    }
    s.remove_prefix(3);
    uint32_t type = kRegBinary;
    if (!s.empty() && s.front() == '(') {
        const size_t close = s.find(')');
        if (close == std::string_view::npos || close == 1 || close > 9) {
            return false;
        }
        type = 0;
        for (const char c : s.substr(1, close - 1)) {
            const int d = HexDigit(c);
            if (d < 0) {
                return false;
            }
            type = type << 4 | static_cast<uint32_t>(d);
        }
        s.remove_prefix(close + 1);
    }
    if (s.empty() || s.front() != ':') {
        return false;
    }
    s.remove_prefix(1);
    std::string text;
    for (;;) {
        std::string_view part = TrimRight(s);
        if (part.empty() || part.back() != '\\') {
            text.append(part);
            break;
        }
        part.remove_suffix(1);
        text.append(part);
        text += ',';
        std::string_view next;
        if (!more(next)) {
            break;
        }
        s = TrimLeft(next);
    }
    std::string bytes;
    if (!ParseHexBytes(text, bytes)) {
        return false;
    }
    // The Unicode format stores the text types as UTF-16; the ANSI calls
    // hand them out converted.
    if (unicodeFile && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz)) {
        bytes = Utf16ToCp1252(bytes);
    }
    value.type = type;
    value.data = std::move(bytes);
    return true;
}

// Splits a key path from the file into its root name and the rest, with
// surrounding backslashes removed.
std::pair<std::string_view, std::string_view> SplitRoot(std::string_view path) {
    const size_t sep = path.find('\\');
    std::string_view rootName = path.substr(0, sep);
    std::string_view rest = sep == std::string_view::npos ? std::string_view() : path.substr(sep);
    while (!rest.empty() && rest.front() == '\\') {
        rest.remove_prefix(1);
    }
    while (!rest.empty() && rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    return {TrimRight(rootName), rest};
}

// Relation of a key path from the file to the key being opened (both folded).
enum class Relation { Unrelated, Same, Descendant, Ancestor };

Relation Relate(const std::string& filePath, const std::string& wanted) {
    if (filePath == wanted) {
        return Relation::Same;
    }
    if (wanted.empty()) {
        return Relation::Descendant;
    }
    if (filePath.empty()) {
        return Relation::Ancestor;
    }
    if (filePath.size() > wanted.size() && filePath.compare(0, wanted.size(), wanted) == 0 &&
        filePath[wanted.size()] == '\\') {
        return Relation::Descendant;
    }
    if (wanted.size() > filePath.size() && wanted.compare(0, filePath.size(), filePath) == 0 &&
        wanted[filePath.size()] == '\\') {
        return Relation::Ancestor;
    }
    return Relation::Unrelated;
}

// Everything the hive text says about the key `wanted` (folded, without
// surrounding backslashes) of `root`.
HiveKey ReadKey(const std::string& text, RegRoot root, const std::string& wanted) {
    HiveKey key;
    const std::vector<std::string_view> lines = SplitLines(text);
    size_t index = 0;
    while (index < lines.size() && TrimRight(TrimLeft(lines[index])).empty()) {
        ++index;
    }
    if (index >= lines.size()) {
        return key;
    }
    const std::string_view header = TrimRight(TrimLeft(lines[index]));
    bool unicodeFile = false;
    if (header == "Windows Registry Editor Version 5.00") {
        unicodeFile = true;
    } else if (header != "REGEDIT4") {
        return key;  // not a registry file: it holds no keys
    }
    // The root key exists in every hive.
    key.exists = wanted.empty();
    ++index;

    bool inKey = false;
    auto nextLine = [&](std::string_view& line) {
        if (index >= lines.size()) {
            return false;
        }
        line = lines[index++];
        return true;
    };
    std::string name;
    while (index < lines.size()) {
        const std::string_view line = TrimLeft(lines[index++]);
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            inKey = false;
            const size_t close = line.rfind(']');
            if (close == std::string_view::npos) {
                continue;
            }
            std::string_view path = line.substr(1, close - 1);
            const bool deletion = !path.empty() && path.front() == '-';
            if (deletion) {
                path.remove_prefix(1);
            }
            const auto [rootName, rest] = SplitRoot(path);
            if (!RootNameMatches(root, rootName)) {
                continue;
            }
            const Relation relation = Relate(Fold(rest), wanted);
            if (deletion) {
                if (relation == Relation::Same || relation == Relation::Ancestor) {
                    key.exists = wanted.empty();
                    key.values.clear();
                }
            } else if (relation == Relation::Same) {
                key.exists = true;
                inKey = true;
            } else if (relation == Relation::Descendant) {
                key.exists = true;
            }
            continue;
        }
        if (!inKey || (line.front() != '"' && line.front() != '@')) {
            continue;  // comments, and values of other keys
        }
        std::string_view rest = line;
        if (rest.front() == '@') {
            name.clear();
            rest.remove_prefix(1);
        } else if (!ParseQuoted(rest, name)) {
            continue;
        }
        rest = TrimLeft(rest);
        if (rest.empty() || rest.front() != '=') {
            continue;
        }
        rest = TrimLeft(rest.substr(1));
        HiveValue value;
        bool remove = false;
        if (!ParseData(rest, unicodeFile, nextLine, value, remove)) {
            continue;  // a line the format does not know is skipped, as an import would
        }
        if (remove) {
            key.values.erase(Fold(name));
        } else {
            key.values[Fold(name)] = std::move(value);
        }
    }
    return key;
}

}  // namespace

HiveKey ReadHiveKey(std::string_view fileBytes, RegRoot root, std::string_view subKey) {
    while (!subKey.empty() && subKey.front() == '\\') {
        subKey.remove_prefix(1);
    }
    while (!subKey.empty() && subKey.back() == '\\') {
        subKey.remove_suffix(1);
    }
    return ReadKey(DecodeText(fileBytes), root, Fold(subKey));
}

std::string FoldRegistryName(std::string_view name) {
    return Fold(name);
}

struct RegKey::Impl {
    std::map<std::string, HiveValue> values;
};

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&&) noexcept = default;
RegKey& RegKey::operator=(RegKey&&) noexcept = default;

int32_t RegKey::Open(RegRoot root, const char* subKey, uint32_t /*access*/) {
    Close();
    if (root != RegRoot::CurrentUser && root != RegRoot::LocalMachine &&
        root != RegRoot::ClassesRoot) {
        return kErrorInvalidHandle;
    }
    std::string raw;
    if (const int32_t error = ReadFile(HivePath(root), raw); error != kErrorSuccess) {
        return error;
    }
    HiveKey key = ReadHiveKey(raw, root, subKey != nullptr ? subKey : "");
    if (!key.exists) {
        return kErrorFileNotFound;
    }
    impl_ = std::make_unique<Impl>();
    impl_->values = std::move(key.values);
    return kErrorSuccess;
}

int32_t RegKey::QueryValue(const char* valueName, uint32_t* type, uint8_t* data,
                           uint32_t* size) const {
    if (!impl_) {
        return kErrorInvalidHandle;
    }
    if (data != nullptr && size == nullptr) {
        return kErrorInvalidParameter;
    }
    const auto found = impl_->values.find(Fold(valueName != nullptr ? valueName : ""));
    if (found == impl_->values.end()) {
        return kErrorFileNotFound;
    }
    const HiveValue& value = found->second;
    if (type != nullptr) {
        *type = value.type;
    }
    if (size == nullptr) {
        return kErrorSuccess;
    }
    const auto needed = static_cast<uint32_t>(value.data.size());
    if (data != nullptr) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        std::memcpy(data, value.data.data(), needed);
    }
    *size = needed;
    return kErrorSuccess;
}

void RegKey::Close() {
    impl_.reset();
}

bool RegKey::IsOpen() const {
    return impl_ != nullptr;
}

void SetLastErrorCode(uint32_t code) {
    tLastError = code;
}

uint32_t LastErrorCode() {
    return tLastError;
}

}  // namespace plat
