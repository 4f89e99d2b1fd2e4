// The shared base on Windows itself: the registry reader against the real
// registry, and the log's program directory, line ends and time-zone line as
// the Win32 runtime gives them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/process.h"
#include "platform/registry.h"
#include "shared/base/c_reg.h"
#include "shared/base/s_logging.h"
#include "win32_test_support.h"

namespace {

using plat::RegRoot;

const std::string kKey = "Software\\BrinefallBaseTest\\" + std::to_string(plat::ProcessId());

class CRegOnWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string text = "REGEDIT4\r\n\r\n";
        text += "[HKEY_CURRENT_USER\\" + kKey + "]\r\n";
        text += "\"Language\"=dword:00000001\r\n";
        text += "\"InstallDir\"=\"" + std::string(255, 'd') + "\"\r\n";
        text += "\"TooLong\"=\"" + std::string(256, 'e') + "\"\r\n\r\n";
        text += "[HKEY_LOCAL_MACHINE\\" + kKey + "]\r\n";
        text += "\"Language\"=dword:00000000\r\n";
        text += "\"Version\"=dword:000005d2\r\n";
        text += "\"Build\"=\"12\"\r\n\r\n";
        ASSERT_TRUE(win32test::ImportRegistry(text));
    }
    static void TearDownTestSuite() {
        win32test::DeleteRegistryKey("HKCU\\" + kKey);
        win32test::DeleteRegistryKey("HKLM\\" + kKey);
        CReg::Release();
    }

    // How the start-up reads a value: the user's first, the machine's if that fails.
    static bool ReadDwordEitherRoot(const char* name, uint32_t& out) {
        return CReg::Get()->ReadDword(RegRoot::CurrentUser, kKey.c_str(), name, out) ||
               CReg::Get()->ReadDword(RegRoot::LocalMachine, kKey.c_str(), name, out);
    }
};

TEST_F(CRegOnWindows, UserValueComesBeforeTheMachineValue) {
    uint32_t language = 99;
    ASSERT_TRUE(ReadDwordEitherRoot("Language", language));
    EXPECT_EQ(language, 1u);
}

TEST_F(CRegOnWindows, MachineValueServesWhenTheUserHasNone) {
    uint32_t version = 0;
    ASSERT_TRUE(ReadDwordEitherRoot("Version", version));
    EXPECT_EQ(version, 1490u);
}

TEST_F(CRegOnWindows, MissingValueFailsWithItsErrorCode) {
    uint32_t out = 7;
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(CReg::Get()->ReadDword(RegRoot::CurrentUser, kKey.c_str(), "Version", out));
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(plat::LastErrorCode(), 2u);
}

TEST_F(CRegOnWindows, MissingKeyFailsWithTheErrorOfOpeningIt) {
    uint32_t out = 7;
    plat::SetLastErrorCode(0);
    EXPECT_FALSE(CReg::Get()->ReadDword(RegRoot::CurrentUser, (kKey + "\\Missing").c_str(),
                                        "Language", out));
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(plat::LastErrorCode(), 2u);
}

TEST_F(CRegOnWindows, StringValueIsNoDword) {
    uint32_t build = 7;
    EXPECT_FALSE(ReadDwordEitherRoot("Build", build));
    EXPECT_EQ(build, 0u);
}

TEST_F(CRegOnWindows, InstallDirOf255CharactersFitsItsBufferAndOneMoreDoesNot) {
    char buffer[256];
    ASSERT_TRUE(CReg::Get()->ReadString(RegRoot::CurrentUser, kKey.c_str(), "InstallDir", buffer,
                                        sizeof buffer));
    EXPECT_EQ(std::string(buffer), std::string(255, 'd'));
    EXPECT_FALSE(CReg::Get()->ReadString(RegRoot::CurrentUser, kKey.c_str(), "TooLong", buffer,
                                         sizeof buffer));
}

TEST(CLogOnWindows, AppDirectoryIsTheProgramsDirectory) {
    // Wine and Windows both start a program with its full path in the
    // command line; the log takes the directory from there.
    EXPECT_EQ(std::string(CLog::Get()->appDirectory()), win32test::ProgramDirectory())
        << plat::CommandLine();
}

TEST(CLogOnWindows, LinesEndInOneCarriageReturnAndLineFeed) {
    brf_test::ScratchDir scratch;
    const std::string file = scratch.File("_debugg.log");
    _putenv("TZ=CET-1CEST");
    CLog::Get()->Open(2, -1, file.c_str(), 1, 2000000);
    _putenv("TZ=");
    BRF_LOG(1, "file is ok.");
    CLog::Release();

    const std::string text = brf_test::ReadFile(file);
    EXPECT_EQ(text.find("\r\r"), std::string::npos);
    size_t lineFeeds = 0;
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(text[at - 1], '\r') << "at " << at;
        ++lineFeeds;
    }
    EXPECT_EQ(lineFeeds, 9u);  // eight header lines and the entry
    EXPECT_NE(text.find(" : 1 : file is ok.\r\n"), std::string::npos) << text;
    // The zone line: hours west of Greenwich, truncated, and a 0-or-1 flag.
    const size_t zone = text.find("--- (");
    ASSERT_NE(zone, std::string::npos) << text;
    const std::string zoneLine = text.substr(zone, text.find('\r', zone) - zone);
    EXPECT_EQ(zoneLine.rfind("--- (-1 ", 0), 0u) << zoneLine;
    EXPECT_NE(zoneLine.find(" / 1 "), std::string::npos) << zoneLine;
}

}  // namespace
