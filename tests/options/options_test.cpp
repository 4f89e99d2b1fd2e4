#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "shared/base/s_logging.h"
#include "shared/options/s_options.h"
#include "support/test_support.h"

namespace {

using brf_test::ReadFile;
using brf_test::TempDir;
using brf_test::WriteFile;

// What a save writes for a record at its defaults, with "\n" for every line
// end and LANGUAGE for the language that depends on the user's locale.
const char* const kDefaultFile = R"(
[VIDEO]
api=0
adapter=0
device=0
res_width=1024
res_height=768
res_depth=32
res_freq=60
dx_fullreset=0
dx_vertexbuffer_size=1024
dx_sw_vertexprocessing=0
fps_limit=0
fps_autoadjust=0
windowed_mode=0
window_transparency=15
show_rain=1
show_clouds=1
show_animals=1
show_shipwaves=2
show_cannonsmoke=2
screenshot_format=bmp
background_rendering=0
topmost_window=0

[AUDIO]
ambiente_volume=80
effects_volume=100
music_volume=60
enable_sounds=1
global_sounds=1
chat_sound=1

[INPUT]
brf_mouse=1
mouse_navigation=0
keypress_delay=200
keypress_repeat=75

[KEYS]
key_turnleft=0;203
key_turnright=0;205
key_sailup=0;200
key_sailDown=0;208
key_mousenav=0;49
key_actionignore=0;2
key_actiontrade=0;3
key_actioncannon=0;4
key_actionboard=0;5
key_anchor=0;25
key_fireleft=0;44
key_fireright=0;45
key_ammostandard=0;30
key_ammoshatter=0;31
key_ammoexplosive=0;32
key_nexttarget=0;20
key_notarget=0;22
key_togglemap=0;50
key_playercoord=0;60
key_citynames=0;62
key_enemynames=0;63
key_enemymodes=0;64
key_shift1=0;42
key_shift2=0;29
key_nextwp=0;36
key_prevwp=0;37
key_nowp=0;38
key_togglequickbar=0;16
key_quickbar1=0;0
key_quickbar2=0;0
key_quickbar3=0;0
key_quickbar4=0;0
key_quickbar5=0;0
key_quickbar6=0;0
key_quickbar7=0;0
key_quickbar8=0;0
key_quickbar9=0;0
key_quickbar0=0;0
key_action=0;256
key_popup=0;257
key_enter1=0;28
key_enter2=0;156
key_chathistory=0;17
key_chatchannels=1;15
key_changeeditfield=0;15
key_panic=0;1
key_fps=0;59
key_screenshot=0;61
key_windowedmode=0;88
key_onlinehelp=0;35
key_draganddrop=0;56
key_qlogs=0;0
key_qmaps=0;0
key_qcrew=0;0
key_qships=0;0
key_qperson=0;0
key_qbuddies=0;0
key_qoptions=0;0
key_nextmessage=0;48
key_console=0;41
key_reserved1=0;0
key_reserved2=0;0
key_reserved3=0;0
key_fightstepleft=0;203
key_fightstepright=0;205
key_fightattack=0;256
key_fightdefend=0;257

[INGAME]
last_character=-1
chat_rows=8
chat_echo=1
auto_chathistory=1
small_chatfont=0
auto_changechannel=1
show_minimap=3
show_quickbar=1
show_fighthelp=0
show_citynames=1
show_newmsghint=1
show_progresspoints=0
show_chathistory=1
show_coordinates=1
show_enemynames=0
show_enemymodes=0
show_enemyflags=1
show_playername_onsea=0
show_playername_onlist=0
colored_conditionbar=1
flag_direction=0
show_entermsg_buddies=1
auto_target=1
mapzoom_1x=0
mapzoom_2x=0
do_foodwarning=1
foodwarning_time=360
do_moralwarning=1
moralwarning_time=-1

[COMM]
last_server=0
updater_proxyserver=
updater_proxyport=0

[MISC]
do_first_setup=1
language=LANGUAGE
login=
save_password=0
automate_updater=0
dynamic_loader=1
dynloader_task=1
startload_ships=1
startload_terrain=1
startload_animals=1

[DEBUGG]
debug_logfile=_debugg.log
clear_logfile=0
debug_loglevel=2
debug_loglevelAI=-1
max_filesize=2000000
throw_unknowncmd=0

)";

std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override { COpt::Release(); }
    void TearDown() override { COpt::Release(); }
    COpt& Opt() { return *COpt::Get(); }

    // Loads `content` as config.ini, saves, and returns what was written.
    std::string RoundTrip(const std::string& content) {
        WriteFile("config.ini", content);
        EXPECT_TRUE(Opt().Load());
        Opt().Save();
        return ReadFile("config.ini");
    }

    TempDir dir_;
};

TEST_F(OptionsTest, SaveAfterMissingFileWritesEveryDefault) {
    EXPECT_FALSE(Opt().Load());
    EXPECT_EQ(Opt().loaded, 1);
    Opt().Save();
    std::string expected = Crlf(std::string(kDefaultFile).substr(1));
    const size_t at = expected.find("LANGUAGE");
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, 8, std::to_string(Opt().language));
    EXPECT_EQ(ReadFile("config.ini"), expected);
    EXPECT_TRUE(Opt().language == 0 || Opt().language == 3);
    EXPECT_FALSE(std::filesystem::exists("config.ini.tmp"));
}

TEST_F(OptionsTest, SaveBeforeAnyLoadWritesNothing) {
    Opt().Save();
    EXPECT_FALSE(std::filesystem::exists("config.ini"));
}

TEST_F(OptionsTest, KnownKeysAreCaseInsensitiveAndWrittenInTheirOwnCase) {
    const std::string saved = RoundTrip("RES_WIDTH=800\nKEY_SAILDOWN=0;17\nDEBUG_LOGLEVELAI=3");
    EXPECT_EQ(Opt().res_width, 800);
    EXPECT_EQ(Opt().debug_loglevelAI, 3) << "a last line without a line feed is applied";
    EXPECT_NE(saved.find("[VIDEO]\r\napi=0\r\nadapter=0\r\ndevice=0\r\nres_width=800\r\n"),
              std::string::npos);
    EXPECT_NE(saved.find("\r\nkey_sailDown=0;17\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\ndebug_loglevelAI=3\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("RES_WIDTH"), std::string::npos);
}

TEST_F(OptionsTest, UnknownLinesAreWrittenBackVerbatimAfterTheLastSection) {
    const std::string saved =
        RoundTrip("[VIDEO]\r\nres_width = 800\r\nmy_tool=a=b\r\n; comment\r\nmy_tool=a=b\r\n");
    EXPECT_EQ(Opt().res_width, 1024) << "blanks around the = make the key unknown";
    EXPECT_EQ(Opt().unknownLineCount, 3);
    const std::string tail = "\r\n\r\nres_width = 800\r\nmy_tool=a=b\r\nmy_tool=a=b\r\n";
    ASSERT_GE(saved.size(), tail.size());
    EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);
    EXPECT_EQ(saved.find("comment"), std::string::npos) << "lines without = are dropped";
}

TEST_F(OptionsTest, BindingsNeedBothNumbers) {
    RoundTrip("key_turnleft=1;\nkey_turnright=;5\nkey_anchor=7\n");
    EXPECT_EQ(Opt().keyFirst[0], 0);
    EXPECT_EQ(Opt().keySecond[0], 203);
    EXPECT_EQ(Opt().keySecond[1], 205);
    EXPECT_EQ(Opt().keySecond[9], 25);

    const std::string saved = RoundTrip("key_turnleft=1;30\nkey_fightdefend=70000;65537\n");
    EXPECT_EQ(Opt().keyFirst[0], 1);
    EXPECT_EQ(Opt().keySecond[0], 30);
    EXPECT_NE(saved.find("\r\nkey_turnleft=1;30\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\nkey_fightdefend=4464;1\r\n"), std::string::npos)
        << "binding numbers keep 16 bits";
}

TEST_F(OptionsTest, FlaggedKeysAreWrittenOnlyWhenTheFileHadThem) {
    std::string saved = RoundTrip("test_user=tester\nvertical_texel=0.5\n");
    EXPECT_STREQ(Opt().test_user, "tester");
    EXPECT_NE(saved.find("\r\nvertical_texel=0.50\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\ntest_user=tester\r\n"), std::string::npos);
    EXPECT_EQ(saved.find("horizontal_texel"), std::string::npos);
    EXPECT_EQ(saved.find("test_pass"), std::string::npos);

    saved = RoundTrip("res_width=640\n");
    EXPECT_EQ(saved.find("test_user"), std::string::npos) << "flags are cleared by every load";
    EXPECT_EQ(saved.find("vertical_texel"), std::string::npos);
}

TEST_F(OptionsTest, NumbersAreReadLikeTheGameReadsThem) {
    RoundTrip(
        "dx_vertexbuffer_size=0\nres_height=  -12px\nres_depth=abc\nkeypress_delay=70000\n"
        "max_filesize=99999999999\nres_freq=5\nres_freq=75\n");
    EXPECT_EQ(Opt().dx_vertexbuffer_size, 1) << "raised to at least 1";
    EXPECT_EQ(Opt().res_height, -12);
    EXPECT_EQ(Opt().res_depth, 0);
    EXPECT_EQ(Opt().keypress_delay, 4464) << "low 16 bits";
    EXPECT_EQ(Opt().max_filesize, INT32_MAX) << "clamped, not wrapped";
    EXPECT_EQ(Opt().res_freq, 75) << "the last of two values";
}

TEST_F(OptionsTest, OverlongValuesEndThePairAndTheRestIsANewLine) {
    const std::string value254(254, 'v');
    RoundTrip("screenshot_format=" + value254 + "\n");
    EXPECT_EQ(std::string(Opt().screenshot_format), value254.substr(0, 127))
        << "read, then cut to the field";

    COpt::Release();
    RoundTrip("screenshot_format=" + std::string(255, 'w') + "res_height=600\n");
    EXPECT_STREQ(Opt().screenshot_format, "bmp");
    EXPECT_EQ(Opt().res_height, 600);
}

TEST_F(OptionsTest, OtherProgramsLinesSurviveWhateverTheirLengthOrNumber) {
    std::string content;
    for (int i = 0; i < 1500; ++i) {
        content += "other_key_" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    const std::string longLine = "other_long=" + std::string(600, 'L');
    const std::string longKey = std::string(300, 'K') + "=1";
    content += longLine + "\r\n" + longKey + "\r\n";
    const std::string saved = RoundTrip(content);
    EXPECT_EQ(Opt().unknownLineCount, 1502);
    EXPECT_NE(saved.find("\r\nother_key_0=0\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\nother_key_1499=1499\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\n" + longLine + "\r\n"), std::string::npos);
    EXPECT_NE(saved.find("\r\n" + longKey + "\r\n"), std::string::npos);
}

TEST_F(OptionsTest, FailedSaveLeavesTheOldFileWhole) {
    WriteFile("config.ini", "res_width=800\n");
    ASSERT_TRUE(Opt().Load());
    std::filesystem::create_directory("config.ini.tmp");
    Opt().res_width = 640;
    Opt().Save();
    EXPECT_EQ(ReadFile("config.ini"), "res_width=800\n");
}

TEST_F(OptionsTest, ManyLinesWithoutEqualsReadInLinearTime) {
    // Each line start once searched the rest of the file for an "=": a
    // megabyte of blank lines took most of a minute.
    const auto start = std::chrono::steady_clock::now();
    RoundTrip(std::string(1000000, '\n') + "res_width=800\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Opt().res_width, 800);
}

TEST_F(OptionsTest, SaveLogsItsProgress) {
    CLog::Release();
    CLog::Get()->Open(1, -1, "opt.log", 1, 2000000);
    RoundTrip("res_width=800\n");
    const std::string log = ReadFile("opt.log");
    EXPECT_NE(log.find(" : 1 : saving ini file\r\n"), std::string::npos);
    EXPECT_NE(log.find(" : 1 : done saving ini file\r\n"), std::string::npos);
    EXPECT_EQ(log.find("CALL FUNCTION"), std::string::npos) << "level 9 stays out at level 1";
    CLog::Release();
}

}  // namespace
