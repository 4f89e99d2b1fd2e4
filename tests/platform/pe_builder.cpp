#include "platform/pe_builder.h"

#include <string_view>

namespace brf_test {

namespace {

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kTextRva = 0x1000;
constexpr uint32_t kTextRaw = 0x400;
constexpr uint32_t kRsrcRva = 0x2000;
constexpr uint32_t kRsrcRaw = 0x600;

void Append16(std::string& b, uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}

void Append32(std::string& b, uint32_t v) {
    Append16(b, static_cast<uint16_t>(v & 0xFFFF));
    Append16(b, static_cast<uint16_t>(v >> 16));
}

void AppendKey(std::string& b, std::string_view key) {
    for (const char c : key) {
        Append16(b, static_cast<uint8_t>(c));
    }
    Append16(b, 0);
}

void Align(std::string& b, size_t alignment) {
    while (b.size() % alignment != 0) {
        b += '\0';
    }
}

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// A resource directory with its entries: (name or id, target).
void AppendDirectory(std::string& b, uint16_t namedCount, uint16_t idCount) {
    Append32(b, 0);  // characteristics
    Append32(b, 0);  // time stamp
    Append32(b, 0);  // version
    Append16(b, namedCount);
    Append16(b, idCount);
}

}  // namespace

void Put16(std::string& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<char>(value & 0xFF);
    bytes[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t offset, uint32_t value) {
    Put16(bytes, offset, static_cast<uint16_t>(value & 0xFFFF));
    Put16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

std::string BuildVersionBlock(const std::array<uint16_t, 4>& fileVersion,
                              const std::array<uint16_t, 4>& productVersion) {
    std::string b;
    Append16(b, 0);   // wLength, filled in below
    Append16(b, 52);  // wValueLength: sizeof VS_FIXEDFILEINFO
    Append16(b, 0);   // binary
    AppendKey(b, "VS_VERSION_INFO");
    Align(b, 4);
    Append32(b, 0xFEEF04BD);
    Append32(b, 0x00010000);
    Append32(b, static_cast<uint32_t>(fileVersion[0]) << 16 | fileVersion[1]);
    Append32(b, static_cast<uint32_t>(fileVersion[2]) << 16 | fileVersion[3]);
    Append32(b, static_cast<uint32_t>(productVersion[0]) << 16 | productVersion[1]);
    Append32(b, static_cast<uint32_t>(productVersion[2]) << 16 | productVersion[3]);
    Append32(b, 0x3F);     // file flags mask
    Append32(b, 0);        // file flags
    Append32(b, 0x40004);  // VOS_NT_WINDOWS32
    Append32(b, 1);        // VFT_APP
    Append32(b, 0);
    Append32(b, 0);
    Append32(b, 0);
    Align(b, 4);

    // VarFileInfo with a Translation value, as resource compilers write it.
    const size_t varFileInfo = b.size();
    Append16(b, 0);
    Append16(b, 0);
    Append16(b, 1);  // text
    AppendKey(b, "VarFileInfo");
    Align(b, 4);
    const size_t var = b.size();
    Append16(b, 0);
    Append16(b, 4);
    Append16(b, 0);
    AppendKey(b, "Translation");
    Align(b, 4);
    Append16(b, 0x0409);
    Append16(b, 1200);
    Put16(b, var, static_cast<uint16_t>(b.size() - var));
    Put16(b, varFileInfo, static_cast<uint16_t>(b.size() - varFileInfo));
    Put16(b, 0, static_cast<uint16_t>(b.size()));
    return b;
}

PeFile BuildPe(const PeSpec& spec) {
    PeFile pe;
    std::string& b = pe.bytes;

    // DOS header with its stub.
    b.assign(0x80, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x80);

    // .rsrc content, built first so the headers can give its size. Offsets
    // inside the resource directory count from the section's start.
    std::string r;
    size_t typeEntry = 0;
    size_t nameDir = 0;
    size_t langDir = 0;
    size_t dataEntry = 0;
    size_t versionData = 0;
    size_t versionSize = 0;
    if (spec.withVersionResource) {
        // Root: a named type "MYDATA", then the ids 3 (icon) and 16
        // (version), so the version type is neither the first entry nor
        // the only one.
        AppendDirectory(r, 1, 2);
        const size_t namedTypeEntry = r.size();
        Append32(r, 0);
        Append32(r, 0);
        const size_t iconTypeEntry = r.size();
        Append32(r, 3);
        Append32(r, 0);
        typeEntry = r.size();
        Append32(r, 16);
        Append32(r, 0);

        // Icon type (shared by the named type): name 1, language 0x409.
        const size_t iconNameDir = r.size();
        AppendDirectory(r, 0, 1);
        Append32(r, 1);
        const size_t iconNameTarget = r.size();
        Append32(r, 0);
        const size_t iconLangDir = r.size();
        AppendDirectory(r, 0, 1);
        Append32(r, 0x0409);
        const size_t iconLangTarget = r.size();
        Append32(r, 0);

        // Version type: name 1 with the language 0x407, and maybe 0x409.
        nameDir = r.size();
        AppendDirectory(r, 0, 1);
        Append32(r, 1);
        const size_t nameTarget = r.size();
        Append32(r, 0);
        langDir = r.size();
        AppendDirectory(r, 0, spec.secondLanguage ? 2 : 1);
        Append32(r, 0x0407);
        const size_t firstLangTarget = r.size();
        Append32(r, 0);
        size_t secondLangTarget = 0;
        if (spec.secondLanguage) {
            Append32(r, 0x0409);
            secondLangTarget = r.size();
            Append32(r, 0);
        }

        // Data entries.
        const size_t iconData = r.size();
        r.append(16, '\0');
        dataEntry = r.size();
        r.append(16, '\0');
        const size_t otherEntry = r.size();
        r.append(16, '\0');

        // The type name: a counted UTF-16 string.
        const size_t typeName = r.size();
        Append16(r, 6);
        for (const char c : std::string_view("MYDATA")) {
            Append16(r, static_cast<uint8_t>(c));
        }
        Align(r, 4);

        const size_t iconBytes = r.size();
        r.append(16, '\x5A');
        const std::string other = spec.secondLanguage ? BuildVersionBlock(spec.otherLanguageVersion,
                                                                          spec.otherLanguageVersion)
                                                      : std::string();
        const size_t otherData = r.size();
        r += other;
        Align(r, 4);
        const std::string version = BuildVersionBlock(spec.fileVersion, spec.productVersion);
        versionData = r.size();
        versionSize = version.size();
        r += version;

        constexpr uint32_t kDir = 0x80000000u;
        Put32(r, namedTypeEntry, kDir | static_cast<uint32_t>(typeName));
        Put32(r, namedTypeEntry + 4, kDir | static_cast<uint32_t>(iconNameDir));
        Put32(r, iconTypeEntry + 4, kDir | static_cast<uint32_t>(iconNameDir));
        Put32(r, typeEntry + 4, kDir | static_cast<uint32_t>(nameDir));
        Put32(r, iconNameTarget, kDir | static_cast<uint32_t>(iconLangDir));
        Put32(r, iconLangTarget, static_cast<uint32_t>(iconData));
        Put32(r, nameTarget, kDir | static_cast<uint32_t>(langDir));
        Put32(r, firstLangTarget, static_cast<uint32_t>(dataEntry));
        if (spec.secondLanguage) {
            Put32(r, secondLangTarget, static_cast<uint32_t>(otherEntry));
        }
        Put32(r, iconData, kRsrcRva + static_cast<uint32_t>(iconBytes));
        Put32(r, iconData + 4, 16);
        Put32(r, dataEntry, kRsrcRva + static_cast<uint32_t>(versionData));
        Put32(r, dataEntry + 4, static_cast<uint32_t>(version.size()));
        Put32(r, otherEntry, kRsrcRva + static_cast<uint32_t>(otherData));
        Put32(r, otherEntry + 4, static_cast<uint32_t>(other.size()));
    } else {
        AppendDirectory(r, 0, 0);
    }
    const auto rsrcSize = static_cast<uint32_t>(r.size());
    const uint32_t rsrcRawSize = AlignUp(rsrcSize, kFileAlignment);

    // PE signature and COFF header.
    pe.peHeader = b.size();
    Append32(b, 0x00004550);
    Append16(b, spec.pe32Plus ? 0x8664 : 0x014C);
    Append16(b, 2);  // sections
    Append32(b, 0);
    Append32(b, 0);
    Append32(b, 0);
    const uint16_t optionalSize = spec.pe32Plus ? 240 : 224;
    Append16(b, optionalSize);
    Append16(b, spec.pe32Plus ? 0x0022 : 0x0102);

    // Optional header.
    pe.optionalHeader = b.size();
    Append16(b, spec.pe32Plus ? 0x20B : 0x10B);
    Append16(b, 0x000E);          // linker version
    Append32(b, kFileAlignment);  // size of code
    Append32(b, rsrcRawSize);     // size of initialised data
    Append32(b, 0);
    Append32(b, kTextRva);  // entry point
    Append32(b, kTextRva);  // base of code
    if (spec.pe32Plus) {
        Append32(b, 0x40000000);  // image base, 0x140000000
        Append32(b, 0x1);
    } else {
        Append32(b, kRsrcRva);  // base of data
        Append32(b, 0x400000);  // image base
    }
    Append32(b, kSectionAlignment);
    Append32(b, kFileAlignment);
    Append16(b, 6);  // OS version
    Append16(b, 0);
    Append16(b, 0);  // image version
    Append16(b, 0);
    Append16(b, 6);  // subsystem version
    Append16(b, 0);
    Append32(b, 0);
    Append32(b, kRsrcRva + AlignUp(rsrcSize, kSectionAlignment));  // size of image
    Append32(b, kTextRaw);                                         // size of headers
    Append32(b, 0);                                                // checksum
    Append16(b, 3);                                                // console
    Append16(b, 0);
    for (int i = 0; i < 4; ++i) {  // stack and heap sizes
        if (spec.pe32Plus) {
            Append32(b, 0x100000);
            Append32(b, 0);
        } else {
            Append32(b, 0x100000);
        }
    }
    Append32(b, 0);   // loader flags
    Append32(b, 16);  // data directories
    for (uint32_t i = 0; i < 16; ++i) {
        if (i == 2) {
            pe.resourceDirEntry = b.size();
            Append32(b, kRsrcRva);
            Append32(b, rsrcSize);
        } else {
            Append32(b, 0);
            Append32(b, 0);
        }
    }

    // Section table: .text, then .rsrc at a different distance between its
    // address and its file offset.
    pe.sectionTable = b.size();
    auto section = [&b](std::string_view name, uint32_t virtualSize, uint32_t rva, uint32_t rawSize,
                        uint32_t raw, uint32_t flags) {
        std::string n(name);
        n.resize(8, '\0');
        b += n;
        Append32(b, virtualSize);
        Append32(b, rva);
        Append32(b, rawSize);
        Append32(b, raw);
        Append32(b, 0);
        Append32(b, 0);
        Append16(b, 0);
        Append16(b, 0);
        Append32(b, flags);
    };
    section(".text", 0x10, kTextRva, kFileAlignment, kTextRaw, 0x60000020);
    section(".rsrc", rsrcSize, kRsrcRva, rsrcRawSize, kRsrcRaw, 0x40000040);

    b.resize(kTextRaw, '\0');
    b += '\xC3';  // ret
    b.resize(kRsrcRaw, '\0');
    pe.resourceSection = b.size();
    b += r;
    b.resize(kRsrcRaw + rsrcRawSize, '\0');

    pe.versionTypeEntry = pe.resourceSection + typeEntry;
    pe.versionNameDir = pe.resourceSection + nameDir;
    pe.versionLangDir = pe.resourceSection + langDir;
    pe.versionDataEntry = pe.resourceSection + dataEntry;
    pe.versionData = pe.resourceSection + versionData;
    pe.versionDataSize = versionSize;
    return pe;
}

}  // namespace brf_test
