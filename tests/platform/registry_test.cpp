// Registry reads from hive files in the registry editor's text format.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/registry.h"
#include "support/test_support.h"

namespace {

using namespace std::string_literals;
using brf_test::ScopedEnv;
using brf_test::ScratchDir;
using plat::RegKey;
using plat::RegRoot;

constexpr const char* kKey = "Software\\Brinefall";

// UTF-16LE with a byte-order mark, from text given as UTF-32 code points.
std::string Utf16(const std::u32string& text) {
    std::string out = "\xFF\xFE";
    for (const char32_t cp : text) {
        auto unit = [&out](char16_t u) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        };
        if (cp >= 0x10000) {
            unit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            unit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            unit(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::u32string Widen(const std::string& ascii) {
    return std::u32string(ascii.begin(), ascii.end());
}

// A hive for one root, written into a scratch directory and named by its
// environment variable for the test's lifetime.
class Hive {
public:
    Hive(const char* variable, const std::string& bytes)
        : path_(dir_.File("hive.reg")), env_(variable, path_) {
        Write(bytes);
    }
    void Write(const std::string& bytes) const { brf_test::WriteFile(path_, bytes); }
    const std::string& path() const { return path_; }

private:
    ScratchDir dir_;
    std::string path_;
    ScopedEnv env_;
};

struct Query {
    int32_t error = -1;
    uint32_t type = 0xDEAD;
    uint32_t size = 0;
    std::string data;
};

// Opens `key` and reads `value` into a buffer of `bufferSize` bytes.
Query Read(RegRoot root, const char* key, const char* value, uint32_t bufferSize = 1024) {
    Query q;
    RegKey k;
    q.error = k.Open(root, key, plat::kKeyRead);
    if (q.error != plat::kErrorSuccess) {
        return q;
    }
    std::string buffer(bufferSize, '\x7F');
    q.size = bufferSize;
    q.error = k.QueryValue(value, &q.type, reinterpret_cast<uint8_t*>(buffer.data()), &q.size);
    if (q.error == plat::kErrorSuccess) {
        q.data = buffer.substr(0, q.size);
    }
    return q;
}

std::string Dword(uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
            static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24)};
}

const std::string kInstallHive =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
    "\"Language\"=dword:00000001\r\n"
    "\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n"
    "\"Version\"=dword:000005d2\r\n";

TEST(RegistryHive, Regedit4ValuesOfTheInstallation) {
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    Query language = Read(RegRoot::CurrentUser, kKey, "Language");
    ASSERT_EQ(language.error, plat::kErrorSuccess);
    EXPECT_EQ(language.type, plat::kRegDword);
    EXPECT_EQ(language.data, Dword(1));
    Query version = Read(RegRoot::CurrentUser, kKey, "Version");
    EXPECT_EQ(version.data, Dword(1490));
    Query dir = Read(RegRoot::CurrentUser, kKey, "InstallDir");
    ASSERT_EQ(dir.error, plat::kErrorSuccess);
    EXPECT_EQ(dir.type, plat::kRegSz);
    EXPECT_EQ(dir.data, "C:\\Games\\Brinefall\0"s);
}

TEST(RegistryHive, UnicodeFileWithByteOrderMarkIsReadAsWindows1252) {
    Hive hive("BRF_HKLM_FILE", Utf16(Widen("Windows Registry Editor Version 5.00\r\n\r\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Brinefall]\r\n"
                                           "\"InstallDir\"=\"C:\\\\Spiele\\\\") +
                                     U"Br\u00E4nefall \u20AC \u0416 \U0001F600" + Widen("\"\r\n") +
                                     Widen("\"Language\"=dword:00000000\r\n")));
    Query dir = Read(RegRoot::LocalMachine, kKey, "InstallDir");
    ASSERT_EQ(dir.error, plat::kErrorSuccess);
    // ä and € have bytes of their own; the rest becomes '?', one per character.
    EXPECT_EQ(dir.data, "C:\\Spiele\\Br\xE4nefall \x80 ? ?\0"s);
    EXPECT_EQ(Read(RegRoot::LocalMachine, kKey, "Language").data, Dword(0));
}

TEST(RegistryHive, Utf8FileWithByteOrderMark) {
    Hive hive("BRF_HKCU_FILE",
              "\xEF\xBB\xBFREGEDIT4\n[HKCU\\Software\\Brinefall]\n"
              "\"InstallDir\"=\"D:\\\\Gr\xC3\xBC\xC3\x9F"
              "e\"\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "InstallDir").data,
              "D:\\Gr\xFC\xDF"
              "e\0"s);
}

TEST(RegistryHive, EightBitFileIsTakenAsWindows1252Bytes) {
    Hive hive("BRF_HKCU_FILE",
              "Windows Registry Editor Version 5.00\n"
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"InstallDir\"=\"C:\\\\Gro\xDF\x80\"\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "InstallDir").data, "C:\\Gro\xDF\x80\0"s);
}

TEST(RegistryHive, DefaultLocationsOfTheUserHive) {
    ScratchDir dir;
    brf_test::WriteFile(dir.File("user.reg"), kInstallHive);
    std::filesystem::create_directories(dir.path() / "config/brinefall");
    std::filesystem::create_directories(dir.path() / "home/.config/brinefall");
    ScopedEnv noFile("BRF_HKCU_FILE", nullptr);
    {
        ScopedEnv config("XDG_CONFIG_HOME", (dir.path() / "config").string());
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").error, plat::kErrorFileNotFound);
        std::filesystem::copy_file(dir.File("user.reg"), dir.path() / "config/brinefall/user.reg");
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").data, Dword(1));
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "");
        ScopedEnv home("HOME", (dir.path() / "home").string());
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").error, plat::kErrorFileNotFound);
        std::filesystem::copy_file(dir.File("user.reg"),
                                   dir.path() / "home/.config/brinefall/user.reg");
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").data, Dword(1));
    }
    {
        // The variable wins over the default place.
        ScopedEnv file("BRF_HKCU_FILE", dir.File("missing.reg"));
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").error, plat::kErrorFileNotFound);
    }
}

TEST(RegistryHive, ClassesRootOnlyFromItsVariable) {
    {
        ScopedEnv none("BRF_HKCR_FILE", nullptr);
        RegKey key;
        EXPECT_EQ(key.Open(RegRoot::ClassesRoot, "http\\shell\\open\\command", plat::kKeyRead),
                  plat::kErrorFileNotFound);
        EXPECT_FALSE(key.IsOpen());
    }
    Hive hive("BRF_HKCR_FILE",
              "REGEDIT4\n[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\n"
              "@=\"\\\"/usr/bin/xdg-open\\\" \\\"%1\\\"\"\n");
    Query q = Read(RegRoot::ClassesRoot, "http\\shell\\open\\command", "");
    ASSERT_EQ(q.error, plat::kErrorSuccess);
    EXPECT_EQ(q.data, "\"/usr/bin/xdg-open\" \"%1\"\0"s);
    // A null name is the default value too.
    EXPECT_EQ(Read(RegRoot::ClassesRoot, "http\\shell\\open\\command", nullptr).data, q.data);
}

TEST(RegistryHive, MissingFileKeyAndValueGiveFileNotFound) {
    ScratchDir dir;
    {
        ScopedEnv file("BRF_HKLM_FILE", dir.File("none.reg"));
        EXPECT_EQ(Read(RegRoot::LocalMachine, kKey, "Language").error, plat::kErrorFileNotFound);
    }
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    EXPECT_EQ(Read(RegRoot::CurrentUser, "Software\\Other", "Language").error,
              plat::kErrorFileNotFound);
    EXPECT_EQ(Read(RegRoot::CurrentUser, "Software\\Brinefall\\Sub", "Language").error,
              plat::kErrorFileNotFound);
    EXPECT_EQ(Read(RegRoot::CurrentUser, "Software\\Brine", "Language").error,
              plat::kErrorFileNotFound);

    // A missing value reports no type: the caller's REG_DWORD stays.
    RegKey key;
    ASSERT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    uint32_t type = plat::kRegDword;
    uint8_t data[4] = {1, 2, 3, 4};
    uint32_t size = sizeof data;
    EXPECT_EQ(key.QueryValue("Build", &type, data, &size), plat::kErrorFileNotFound);
    EXPECT_EQ(type, plat::kRegDword);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0], 1);
}

TEST(RegistryHive, AKeyExistsWhenOnlyItsSubKeyIsListed) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brinefall\\Patches]\n\"a\"=\"b\"\n");
    RegKey key;
    EXPECT_EQ(key.Open(RegRoot::CurrentUser, "Software", plat::kKeyRead), plat::kErrorSuccess);
    EXPECT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(key.QueryValue("a", nullptr, nullptr, &size), plat::kErrorFileNotFound);
    EXPECT_EQ(key.Open(RegRoot::CurrentUser, "", plat::kKeyRead), plat::kErrorSuccess);
}

TEST(RegistryHive, TypesAsStored) {
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    // A string read where a DWORD is expected reports its own type.
    RegKey key;
    ASSERT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    uint32_t type = plat::kRegDword;
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    EXPECT_EQ(key.QueryValue("InstallDir", &type, data, &size), plat::kErrorMoreData);
    EXPECT_EQ(type, plat::kRegSz);
    EXPECT_EQ(size, 19u);
}

TEST(RegistryHive, AStringOf256BytesFitsA256ByteBufferAnd257DoNot) {
    const std::string fits(255, 'x');
    const std::string tooLong(256, 'y');
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"Fits\"=\"" +
                  fits + "\"\n\"TooLong\"=\"" + tooLong + "\"\n");
    Query ok = Read(RegRoot::CurrentUser, kKey, "Fits", 256);
    ASSERT_EQ(ok.error, plat::kErrorSuccess);
    EXPECT_EQ(ok.size, 256u);
    EXPECT_EQ(ok.data, fits + '\0');

    RegKey key;
    ASSERT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    std::string buffer(256, '\x7F');
    uint32_t size = 256;
    uint32_t type = 0;
    EXPECT_EQ(key.QueryValue("TooLong", &type, reinterpret_cast<uint8_t*>(buffer.data()), &size),
              plat::kErrorMoreData);
    EXPECT_EQ(size, 257u);
    EXPECT_EQ(type, plat::kRegSz);
}

TEST(RegistryHive, NullDataAsksForTheSize) {
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    RegKey key;
    ASSERT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    uint32_t size = 0;
    uint32_t type = 0;
    EXPECT_EQ(key.QueryValue("InstallDir", &type, nullptr, &size), plat::kErrorSuccess);
    EXPECT_EQ(size, 19u);
    EXPECT_EQ(type, plat::kRegSz);
    EXPECT_EQ(key.QueryValue("Language", nullptr, nullptr, &size), plat::kErrorSuccess);
    EXPECT_EQ(size, 4u);
    // Only asking whether the value is there.
    EXPECT_EQ(key.QueryValue("Language", nullptr, nullptr, nullptr), plat::kErrorSuccess);
    // Data without a size is a bad call.
    uint8_t data[4];
    EXPECT_EQ(key.QueryValue("Language", nullptr, data, nullptr), 87);
}

TEST(RegistryHive, EscapesInNamesAndStrings) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"Say \\\"hi\\\"\"=\"a \\\"quoted\\\" \\\\path\\\\ and \\\\\"\n"
              "\"Back\\\\slash\"=\"\\\\\\\\server\\\\share\"\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Say \"hi\"").data,
              "a \"quoted\" \\path\\ and \\\0"s);
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Back\\slash").data, "\\\\server\\share\0"s);
}

TEST(RegistryHive, HexValuesWithContinuationLinesAndComments) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n"
              "; exported for the tests\n"
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"Blob\"=hex:01,02,03,\\\n"
              "  04,05,\\\n"
              "  ff\n"
              "\"Path\"=hex(2):25,41,25,00\n"
              "\"List\"=hex(7):61,00,62,63,00,00\n"
              "\"Big\"=hex(b):01,00,00,00,00,00,00,80\n"
              "\"Nothing\"=hex(0):\n"
              "\"Number\"=hex(4):d2,05,00,00 ; a DWORD written as bytes\n");
    Query blob = Read(RegRoot::CurrentUser, kKey, "Blob");
    ASSERT_EQ(blob.error, plat::kErrorSuccess);
    EXPECT_EQ(blob.type, plat::kRegBinary);
    EXPECT_EQ(blob.data, "\x01\x02\x03\x04\x05\xFF"s);
    Query path = Read(RegRoot::CurrentUser, kKey, "Path");
    EXPECT_EQ(path.type, plat::kRegExpandSz);
    EXPECT_EQ(path.data, "%A%\0"s);
    Query list = Read(RegRoot::CurrentUser, kKey, "List");
    EXPECT_EQ(list.type, plat::kRegMultiSz);
    EXPECT_EQ(list.data, "a\0bc\0\0"s);
    Query big = Read(RegRoot::CurrentUser, kKey, "Big");
    EXPECT_EQ(big.type, 11u);
    EXPECT_EQ(big.data.size(), 8u);
    Query nothing = Read(RegRoot::CurrentUser, kKey, "Nothing");
    EXPECT_EQ(nothing.error, plat::kErrorSuccess);
    EXPECT_EQ(nothing.type, plat::kRegNone);
    EXPECT_EQ(nothing.size, 0u);
    Query number = Read(RegRoot::CurrentUser, kKey, "Number");
    EXPECT_EQ(number.type, plat::kRegDword);
    EXPECT_EQ(number.data, Dword(1490));
}

TEST(RegistryHive, UnicodeFormatStoresTextTypesAsUtf16) {
    // In the Unicode format hex(2) and hex(7) hold UTF-16, which the ANSI
    // read hands out in the code page; REGEDIT4 holds them as they are.
    Hive hive("BRF_HKCU_FILE",
              "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"Path\"=hex(2):25,00,41,00,e4,00,25,00,00,00\n"
              "\"List\"=hex(7):61,00,00,00,ac,20,00,00,00,00\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Path").data, "%A\xE4%\0"s);
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "List").data, "a\0\x80\0\0"s);
}

TEST(RegistryHive, NamesCompareWithoutCase) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n[hkey_current_user\\SOFTWARE\\brinefall\\\xC4rger]\n"
              "\"LANGUAGE\"=dword:1\n"
              "[HKCU\\software\\BRINEFALL]\n\"installdir\"=\"x\"\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "InstallDir").data, "x\0"s);
    // Letters of the code page fold as well: \xE4 is the small form of \xC4.
    EXPECT_EQ(Read(RegRoot::CurrentUser, "Software\\Brinefall\\\xE4rger", "Language").data,
              Dword(1));
}

TEST(RegistryHive, SectionsOfOtherRootsAreNotThisHivesKeys) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Brinefall]\n\"Language\"=dword:1\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").error, plat::kErrorFileNotFound);
}

TEST(RegistryHive, LaterLinesWinAndDeletionsApply) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n"
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n\"Language\"=dword:1\n\"Build\"=dword:7\n"
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n\"Language\"=dword:0\n\"Build\"=-\n"
              "[HKEY_CURRENT_USER\\Software\\Gone]\n\"a\"=\"b\"\n"
              "[-HKEY_CURRENT_USER\\Software\\Gone]\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").data, Dword(0));
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Build").error, plat::kErrorFileNotFound);
    EXPECT_EQ(Read(RegRoot::CurrentUser, "Software\\Gone", "a").error, plat::kErrorFileNotFound);
}

TEST(RegistryHive, LinesTheFormatDoesNotKnowAreSkipped) {
    Hive hive("BRF_HKCU_FILE",
              "REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n"
              "\"TooManyDigits\"=dword:123456789\n"
              "\"NotHex\"=dword:12g4\n"
              "\"Empty\"=dword:\n"
              "\"Open\"=\"no closing quote\n"
              "\"BadBytes\"=hex:01,2,zz\n"
              "\"Unknown\"=qword:1\n"
              "garbage line\n"
              "   \"Language\"  =  dword:00000001   \n"
              "\"Last\"=\"kept\"");
    for (const char* name : {"TooManyDigits", "NotHex", "Empty", "Open", "BadBytes", "Unknown"}) {
        EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, name).error, plat::kErrorFileNotFound) << name;
    }
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").data, Dword(1));
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Last").data, "kept\0"s);
}

TEST(RegistryHive, AFileWithoutTheHeaderHoldsNoKeys) {
    Hive hive("BRF_HKCU_FILE",
              "[HKEY_CURRENT_USER\\Software\\Brinefall]\n\"Language\"=dword:00000001\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").error, plat::kErrorFileNotFound);
}

TEST(RegistryHive, TheFileIsReadAgainAtEveryOpen) {
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    RegKey held;
    ASSERT_EQ(held.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    hive.Write("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Brinefall]\n\"Language\"=dword:0\n");
    EXPECT_EQ(Read(RegRoot::CurrentUser, kKey, "Language").data, Dword(0));
    // The key opened before keeps what it found.
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    ASSERT_EQ(held.QueryValue("Language", nullptr, data, &size), plat::kErrorSuccess);
    EXPECT_EQ(data[0], 1);
}

TEST(RegistryHive, ClosedKeysAndBadRoots) {
    RegKey key;
    uint32_t size = 4;
    EXPECT_EQ(key.QueryValue("Language", nullptr, nullptr, &size), plat::kErrorInvalidHandle);
    EXPECT_EQ(key.Open(static_cast<RegRoot>(0x80000005u), kKey, plat::kKeyRead),
              plat::kErrorInvalidHandle);
    Hive hive("BRF_HKCU_FILE", kInstallHive);
    ASSERT_EQ(key.Open(RegRoot::CurrentUser, kKey, plat::kKeyRead), plat::kErrorSuccess);
    RegKey moved = std::move(key);
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_EQ(moved.QueryValue("Language", nullptr, nullptr, &size), plat::kErrorInvalidHandle);
}

TEST(LastErrorCode, BelongsToTheThread) {
    plat::SetLastErrorCode(2);
    uint32_t seen = 99;
    std::thread([&] {
        seen = plat::LastErrorCode();
        plat::SetLastErrorCode(5);
    }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(plat::LastErrorCode(), 2u);
}

}  // namespace
