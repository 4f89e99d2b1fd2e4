// The registry reader over hive files: the installation's values are looked
// up as the start-up does, under HKEY_CURRENT_USER first.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/environment.h"
#include "platform/registry.h"
#include "shared/base/c_reg.h"
#include "support/test_support.h"

namespace {

using brf_test::TempDir;
using brf_test::WriteFile;

class RegTest : public ::testing::Test {
protected:
    void SetUp() override {
        plat::SetEnv("BRF_HKCU_FILE", (dir_.path() / "user.reg").string().c_str());
        plat::SetEnv("BRF_HKLM_FILE", (dir_.path() / "system.reg").string().c_str());
        plat::SetEnv("BRF_HKCR_FILE", nullptr);
    }
    void TearDown() override {
        plat::SetEnv("BRF_HKCU_FILE", nullptr);
        plat::SetEnv("BRF_HKLM_FILE", nullptr);
    }
    CReg& Reg() { return *CReg::Get(); }
    TempDir dir_;
};

constexpr const char* kKey = "Software\\Brinefall";

TEST_F(RegTest, DwordValuesNeedTheirTypeAndLeaveZeroOtherwise) {
    WriteFile("user.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
              "\"Language\"=dword:00000001\r\n\"Version\"=\"1490\"\r\n");
    uint32_t value = 77;
    EXPECT_TRUE(Reg().ReadDword(plat::RegRoot::CurrentUser, kKey, "Language", value));
    EXPECT_EQ(value, 1u);

    value = 77;
    EXPECT_FALSE(Reg().ReadDword(plat::RegRoot::CurrentUser, kKey, "Version", value))
        << "a string is no DWORD";
    EXPECT_EQ(value, 0u);

    value = 77;
    EXPECT_FALSE(Reg().ReadDword(plat::RegRoot::CurrentUser, kKey, "Build", value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(plat::LastErrorCode(), static_cast<uint32_t>(plat::kErrorFileNotFound));
}

TEST_F(RegTest, MissingKeySetsTheErrorOfTheKeyOpening) {
    plat::SetLastErrorCode(0);
    uint32_t value = 5;
    EXPECT_FALSE(Reg().ReadDword(plat::RegRoot::LocalMachine, kKey, "Language", value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(plat::LastErrorCode(), static_cast<uint32_t>(plat::kErrorFileNotFound));
}

TEST_F(RegTest, CurrentUserComesBeforeLocalMachine) {
    WriteFile("system.reg",
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Brinefall]\r\n\"Language\"=dword:00000000\r\n"
              "\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n");
    uint32_t value = 9;
    EXPECT_FALSE(Reg().ReadDword(plat::RegRoot::CurrentUser, kKey, "Language", value));
    EXPECT_TRUE(Reg().ReadDword(plat::RegRoot::LocalMachine, kKey, "Language", value));
    EXPECT_EQ(value, 0u);

    WriteFile("user.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
              "\"Language\"=dword:00000001\r\n");
    EXPECT_TRUE(Reg().ReadDword(plat::RegRoot::CurrentUser, kKey, "Language", value));
    EXPECT_EQ(value, 1u);

    char dir[256];
    EXPECT_TRUE(Reg().ReadString(plat::RegRoot::LocalMachine, kKey, "InstallDir", dir, sizeof dir));
    EXPECT_STREQ(dir, "C:\\Games\\Brinefall");
}

TEST_F(RegTest, StringMustFitTheBufferWithItsTerminator) {
    const std::string fits(255, 'a');
    const std::string tooLong(256, 'b');
    WriteFile("user.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n\"Fits\"=\"" + fits +
                  "\"\r\n\"TooLong\"=\"" + tooLong + "\"\r\n");
    char buffer[256];
    EXPECT_TRUE(Reg().ReadString(plat::RegRoot::CurrentUser, kKey, "Fits", buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer), fits);
    EXPECT_FALSE(
        Reg().ReadString(plat::RegRoot::CurrentUser, kKey, "TooLong", buffer, sizeof buffer));
    EXPECT_FALSE(Reg().ReadString(plat::RegRoot::CurrentUser, kKey, "Missing", buffer, 256));
}

TEST_F(RegTest, UnterminatedBinaryDataNeverLeaveAnOpenString) {
    WriteFile("user.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
              "\"Raw\"=hex:41,42,43,44\r\n");
    char exact[4];
    EXPECT_FALSE(Reg().ReadString(plat::RegRoot::CurrentUser, kKey, "Raw", exact, sizeof exact));
    char roomy[8];
    std::memset(roomy, 'x', sizeof roomy);
    EXPECT_TRUE(Reg().ReadString(plat::RegRoot::CurrentUser, kKey, "Raw", roomy, sizeof roomy));
    EXPECT_STREQ(roomy, "ABCD");
}

}  // namespace
