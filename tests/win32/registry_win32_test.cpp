// Registry reads against the real registry of the Wine prefix. The values are
// written by the system's own reg.exe from a registry export file, not by the
// code under test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "win32_test_support.h"

namespace {

using plat::RegKey;
using plat::RegRoot;

const std::string kKey = "Software\\BrinefallTest\\" + std::to_string(plat::ProcessId());
const std::string kOnlyMachineKey = kKey + "\\MachineOnly";
const std::string k255(255, 'x');
const std::string k256(256, 'y');

// The values of the tests, as a registry export file.
std::string ExportText() {
    std::string text = "REGEDIT4\r\n\r\n";
    text += "[HKEY_CURRENT_USER\\" + kKey + "]\r\n";
    text += "\"Language\"=dword:00000001\r\n";
    text += "\"Version\"=dword:ffffffff\r\n";
    text += "\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n";
    text += "\"Short\"=\"abc\"\r\n";
    text += "\"Empty\"=\"\"\r\n";
    text += "\"Fits\"=\"" + k255 + "\"\r\n";
    text += "\"TooLong\"=\"" + k256 + "\"\r\n";
    text += "\"Blob\"=hex:01,02,03,04,05\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\" + kKey + "]\r\n";
    text += "\"Language\"=dword:00000000\r\n\r\n";
    text += "[HKEY_LOCAL_MACHINE\\" + kOnlyMachineKey + "]\r\n";
    text += "\"Build\"=dword:0000002a\r\n\r\n";
    return text;
}

class Registry : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(win32test::ImportRegistry(ExportText())); }

    static void TearDownTestSuite() {
        win32test::DeleteRegistryKey("HKCU\\" + kKey);
        win32test::DeleteRegistryKey("HKLM\\" + kKey);
    }

    static RegKey OpenOrFail(RegRoot root, const std::string& path) {
        RegKey key;
        EXPECT_EQ(key.Open(root, path.c_str(), plat::kKeyRead), plat::kErrorSuccess) << path;
        return key;
    }

    static uint32_t ReadDword(const RegKey& key, const char* name) {
        uint32_t type = plat::kRegNone;
        uint32_t value = 0;
        uint32_t size = sizeof value;
        EXPECT_EQ(key.QueryValue(name, &type, reinterpret_cast<uint8_t*>(&value), &size),
                  plat::kErrorSuccess)
            << name;
        EXPECT_EQ(type, plat::kRegDword);
        EXPECT_EQ(size, 4u);
        return value;
    }
};

TEST_F(Registry, EachRootKeepsItsOwnValue) {
    EXPECT_EQ(ReadDword(OpenOrFail(RegRoot::CurrentUser, kKey), "Language"), 1u);
    EXPECT_EQ(ReadDword(OpenOrFail(RegRoot::LocalMachine, kKey), "Language"), 0u);
}

TEST_F(Registry, KeyOnlyUnderLocalMachineIsMissingForTheUser) {
    RegKey user;
    EXPECT_EQ(user.Open(RegRoot::CurrentUser, kOnlyMachineKey.c_str(), plat::kKeyRead),
              plat::kErrorFileNotFound);
    EXPECT_FALSE(user.IsOpen());
    EXPECT_EQ(ReadDword(OpenOrFail(RegRoot::LocalMachine, kOnlyMachineKey), "Build"), 42u);
}

TEST_F(Registry, LargestDwordKeepsAllBits) {
    EXPECT_EQ(ReadDword(OpenOrFail(RegRoot::CurrentUser, kKey), "Version"), 0xFFFFFFFFu);
}

TEST_F(Registry, StringOf255CharactersFillsA256ByteBufferExactly) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    char buffer[256];
    std::memset(buffer, '#', sizeof buffer);
    uint32_t size = sizeof buffer;
    uint32_t type = plat::kRegNone;
    ASSERT_EQ(key.QueryValue("Fits", &type, reinterpret_cast<uint8_t*>(buffer), &size),
              plat::kErrorSuccess);
    EXPECT_EQ(type, plat::kRegSz);
    EXPECT_EQ(size, 256u);
    EXPECT_EQ(std::string(buffer), k255);
}

TEST_F(Registry, StringOf256CharactersDoesNotFitAndReportsItsSize) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    char buffer[256];
    uint32_t size = sizeof buffer;
    uint32_t type = plat::kRegNone;
    EXPECT_EQ(key.QueryValue("TooLong", &type, reinterpret_cast<uint8_t*>(buffer), &size),
              plat::kErrorMoreData);
    EXPECT_EQ(type, plat::kRegSz);
    EXPECT_EQ(size, 257u);
}

TEST_F(Registry, StringIsReadWithItsTerminator) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    char buffer[256];
    uint32_t size = sizeof buffer;
    ASSERT_EQ(key.QueryValue("InstallDir", nullptr, reinterpret_cast<uint8_t*>(buffer), &size),
              plat::kErrorSuccess);
    EXPECT_STREQ(buffer, "C:\\Games\\Brinefall");
    EXPECT_EQ(size, sizeof "C:\\Games\\Brinefall");

    size = sizeof buffer;
    ASSERT_EQ(key.QueryValue("Empty", nullptr, reinterpret_cast<uint8_t*>(buffer), &size),
              plat::kErrorSuccess);
    EXPECT_EQ(size, 1u);
    EXPECT_STREQ(buffer, "");
}

// The DWORD reader asks for four bytes and must learn the true type, whether
// the string fits into them or not.
TEST_F(Registry, DwordQueryOfAStringReportsTheStringType) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = plat::kRegDword;
    EXPECT_EQ(key.QueryValue("Short", &type, reinterpret_cast<uint8_t*>(&value), &size),
              plat::kErrorSuccess);
    EXPECT_EQ(type, plat::kRegSz);

    size = sizeof value;
    type = plat::kRegDword;
    EXPECT_EQ(key.QueryValue("InstallDir", &type, reinterpret_cast<uint8_t*>(&value), &size),
              plat::kErrorMoreData);
    EXPECT_EQ(type, plat::kRegSz);

    size = sizeof value;
    type = plat::kRegDword;
    EXPECT_EQ(key.QueryValue("Blob", &type, reinterpret_cast<uint8_t*>(&value), &size),
              plat::kErrorMoreData);
    EXPECT_EQ(type, plat::kRegBinary);
}

// A failed query that reports no type leaves the caller's type untouched.
TEST_F(Registry, MissingValueIsFileNotFoundAndLeavesTheType) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    uint32_t value = 5;
    uint32_t size = sizeof value;
    uint32_t type = plat::kRegDword;
    EXPECT_EQ(key.QueryValue("Build", &type, reinterpret_cast<uint8_t*>(&value), &size),
              plat::kErrorFileNotFound);
    EXPECT_EQ(type, plat::kRegDword);
    EXPECT_EQ(value, 5u);
}

TEST_F(Registry, SizeAloneCanBeAskedFor) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    uint32_t size = 0;
    EXPECT_EQ(key.QueryValue("Fits", nullptr, nullptr, &size), plat::kErrorSuccess);
    EXPECT_EQ(size, 256u);
}

TEST_F(Registry, MissingKeyIsFileNotFound) {
    RegKey key;
    EXPECT_EQ(key.Open(RegRoot::CurrentUser, (kKey + "\\Nothing").c_str(), plat::kKeyRead),
              plat::kErrorFileNotFound);
    EXPECT_EQ(key.Open(RegRoot::LocalMachine, "Software\\BrinefallNoSuchKey", plat::kKeyRead),
              plat::kErrorFileNotFound);
    EXPECT_FALSE(key.IsOpen());
}

TEST_F(Registry, ClosedKeyAnswersInvalidHandle) {
    RegKey key = OpenOrFail(RegRoot::CurrentUser, kKey);
    key.Close();
    EXPECT_FALSE(key.IsOpen());
    uint32_t size = 0;
    EXPECT_EQ(key.QueryValue("Language", nullptr, nullptr, &size), plat::kErrorInvalidHandle);
    RegKey never;
    EXPECT_EQ(never.QueryValue("Language", nullptr, nullptr, &size), plat::kErrorInvalidHandle);
}

TEST_F(Registry, MovedKeyStaysOpenInItsNewOwner) {
    RegKey first = OpenOrFail(RegRoot::CurrentUser, kKey);
    RegKey second(std::move(first));
    EXPECT_TRUE(second.IsOpen());
    EXPECT_EQ(ReadDword(second, "Language"), 1u);
    RegKey third;
    third = std::move(second);
    EXPECT_EQ(ReadDword(third, "Language"), 1u);
}

// The command that opens web addresses comes from the classes root.
TEST_F(Registry, ClassesRootHoldsTheWebAddressCommand) {
    RegKey key = OpenOrFail(RegRoot::ClassesRoot, "http\\shell\\open\\command");
    char buffer[512];
    uint32_t size = sizeof buffer;
    uint32_t type = plat::kRegNone;
    ASSERT_EQ(key.QueryValue(nullptr, &type, reinterpret_cast<uint8_t*>(buffer), &size),
              plat::kErrorSuccess);
    EXPECT_TRUE(type == plat::kRegSz || type == plat::kRegExpandSz);
    EXPECT_NE(std::string(buffer).find("%1"), std::string::npos) << buffer;
}

TEST(LastError, KeepsTheCodeSetLast) {
    plat::SetLastErrorCode(plat::kErrorFileNotFound);
    EXPECT_EQ(plat::LastErrorCode(), 2u);
    plat::SetLastErrorCode(plat::kErrorSuccess);
    EXPECT_EQ(plat::LastErrorCode(), 0u);
}

}  // namespace
