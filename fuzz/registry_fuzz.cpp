// Feeds arbitrary hive files to the POSIX registry's reader, ReadHiveKey.
// The first byte picks the root, the text up to the first LF names the key
// to open, and the rest is the file.
//
// Whatever the bytes, a key that does not exist has no values, value names
// are kept folded, the key's name may come in any case and with backslashes
// around it, and the same text stored as UTF-16 or UTF-8 with a byte-order
// mark says exactly the same.
//
//   fuzz/run.sh 600 registry

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/registry_hive.h"

namespace {

using plat::HiveKey;
using plat::RegRoot;

bool Same(const HiveKey& a, const HiveKey& b) {
    if (a.exists != b.exists || a.values.size() != b.values.size()) {
        return false;
    }
    for (auto i = a.values.begin(), j = b.values.begin(); i != a.values.end(); ++i, ++j) {
        if (i->first != j->first || i->second.type != j->second.type ||
            i->second.data != j->second.data) {
            return false;
        }
    }
    return true;
}

// The code point of a Windows-1252 byte; the five bytes the code page
// leaves undefined stand for the C1 controls of the same value.
char32_t FromCp1252(uint8_t b) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b;
}

std::string AsUtf16(std::string_view text) {
    std::string out = "\xFF\xFE";
    for (const char c : text) {
        const char32_t cp = FromCp1252(static_cast<uint8_t>(c));
        out += static_cast<char>(cp & 0xFF);
        out += static_cast<char>(cp >> 8);
    }
    return out;
}

std::string AsUtf8(std::string_view text) {
    std::string out = "\xEF\xBB\xBF";
    for (const char c : text) {
        const char32_t cp = FromCp1252(static_cast<uint8_t>(c));
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool HasByteOrderMark(std::string_view bytes) {
    return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    static constexpr RegRoot kRoots[] = {RegRoot::CurrentUser, RegRoot::LocalMachine,
                                         RegRoot::ClassesRoot};
    const RegRoot root = kRoots[data[0] % 3];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t lf = rest.find('\n');
    const std::string_view subKey = rest.substr(0, lf);
    const std::string_view file =
        lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);

    const HiveKey key = plat::ReadHiveKey(file, root, subKey);
    if (!key.exists && !key.values.empty()) {
        std::abort();
    }
    for (const auto& entry : key.values) {
        if (plat::FoldRegistryName(entry.first) != entry.first) {
            std::abort();
        }
    }
    const std::string otherName = "\\" + plat::FoldRegistryName(subKey) + "\\";
    if (!Same(plat::ReadHiveKey(file, root, otherName), key)) {
        std::abort();
    }
    if (!HasByteOrderMark(file) && (!Same(plat::ReadHiveKey(AsUtf16(file), root, subKey), key) ||
                                    !Same(plat::ReadHiveKey(AsUtf8(file), root, subKey), key))) {
        std::abort();
    }
    return 0;
}
