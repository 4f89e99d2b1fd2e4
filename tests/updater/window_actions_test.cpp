// The window's start-up from the registry and its files, and the user's
// actions besides the run: the server box, the check box, the options
// button and the browser's status texts.
#include <gtest/gtest.h>

#include <filesystem>

#include "shared/options/s_options.h"
#include "updater_fixture.h"

namespace {

using updater_test::GameDir;
using updater_test::T;

std::string Hive(const char* root, const std::string& values) {
    return std::string("REGEDIT4\r\n\r\n[") + root + "\\Software\\Brinefall]\r\n" + values;
}

TEST(StartUp, ReadsTheRegistryAndRefusesToRunWithoutItsValues) {
#ifdef _WIN32
    GTEST_SKIP() << "the hives of both roots are files on POSIX only";
#endif
    const std::string language = "\"Language\"=dword:00000001\r\n";
    const std::string german = "\"Language\"=dword:00000000\r\n";
    const std::string dir = "\"InstallDir\"=\"C:\\\\Games\"\r\n";
    const std::string version = "\"Version\"=dword:0000041a\r\n\"Build\"=dword:00000007\r\n";
    const struct Case {
        const char* name;
        std::string user, machine;
        const char* locale;
        std::vector<std::string> boxes;  // "caption|text"
        const char* title;               // null: the start-up was refused
    } cases[] = {
        {"all values for the user",
         Hive("HKEY_CURRENT_USER", language + dir + version),
         "",
         "en_US",
         {},
         "Auto-Updater: Installed Client-Version:  1.050"},
        {"the machine's values when the user has none",
         "",
         Hive("HKEY_LOCAL_MACHINE", german + dir + version),
         "en_US",
         {},
         "Auto-Updater: Installierte Client-Version:  1.050"},
        {"the user's language before the machine's",
         Hive("HKEY_CURRENT_USER", language),
         Hive("HKEY_LOCAL_MACHINE", german + dir + version),
         "en_US",
         {},
         "Auto-Updater: Installed Client-Version:  1.050"},
        {"no language: German text for a Swiss German user",
         "",
         Hive("HKEY_LOCAL_MACHINE", dir + version),
         "de_CH.UTF-8",
         {"Fehler!|Konnte Information aus der Registry nicht lesen! Bitte installieren Sie das "
          "Spiel erneut."},
         nullptr},
        {"no language: English text for anyone else",
         "",
         "",
         "fr_FR",
         {"Error!|Couldn't read registry information! Please reinstall the game."},
         nullptr},
        {"no version and no client program",
         Hive("HKEY_CURRENT_USER", language + dir),
         "",
         "en_US",
         {"Registry access failure|Couldn't find out the actual installed client version."},
         nullptr},
        {"no installation directory",
         Hive("HKEY_CURRENT_USER", language + version),
         "",
         "en_US",
         {"Registry access failure|Couldn't find the installation dorectory."},
         nullptr},
    };
    for (const Case& c : cases) {
        brf_test::ScopedEnv lang("LANG", c.locale);
        brf_test::ScopedEnv all("LC_ALL", nullptr);
        brf_test::ScopedEnv messages("LC_MESSAGES", nullptr);
        GameDir game(c.user, c.machine);
        std::vector<std::string> boxes;
        for (const auto& box : game.toolkit.shown) {
            boxes.push_back(box.caption + "|" + box.text);
        }
        EXPECT_EQ(boxes, c.boxes) << c.name;
        EXPECT_EQ(game.toolkit.Terminated(), c.title == nullptr) << c.name;
        if (c.title) {
            EXPECT_EQ(game.updater->form->Caption(), c.title) << c.name;
            EXPECT_EQ(game.updater->Session().clientBuild, 7u) << c.name;
            EXPECT_EQ(game.Log(), std::vector<std::string>{updater::Text(201)}) << c.name;
            EXPECT_TRUE(std::filesystem::is_directory("patch/backup")) << c.name;
        }
    }
}

TEST(StartUp, TakesTheFirstLineOfTheServerFileAndWritesOneLineAtClose) {
    GameDir game(updater_test::RegistryFile(1, 1040, 0), "", [] {
        std::filesystem::create_directory("save");
        brf_test::WriteFile("save/updateservers.sav", "http://a.example/\r\nhttp://b.example/\r\n");
    });
    EXPECT_EQ(game.updater->box_host->Text(), "http://a.example/");
    game.updater->form->Close();
    EXPECT_EQ(brf_test::ReadFile("save/updateservers.sav"), "http://a.example/\r\n");
}

TEST(WindowActions, ServerBoxCheckBoxOptionsButtonAndBrowserBehaveAsShown) {
    GameDir game;
    TFUpdater& u = *game.updater;

    // A finished run is undone by a new server address.
    u.Session().EnterState(RunState::Ready);
    u.RefreshVersionAndCaptions();
    EXPECT_EQ(u.btn_check->Caption(), T(217));
    u.box_host->UserEdit("http://other.example/");
    EXPECT_EQ(u.State(), RunState::Idle);
    EXPECT_EQ(u.btn_check->Caption(), T(225));

    // The check box writes the option at once, the rest as just reloaded.
    brf_test::WriteFile("config.ini", "[DEBUGG]\r\ndebug_loglevel=3\r\n");
    u.chk_auto->SetChecked(true);
    EXPECT_EQ(COpt::Get()->automate_updater, 1);
    EXPECT_EQ(COpt::Get()->debug_loglevel, 3);
    EXPECT_NE(brf_test::ReadFile("config.ini").find("automate_updater=1"), std::string::npos);
    u.chk_auto->SetChecked(false);
    EXPECT_NE(brf_test::ReadFile("config.ini").find("automate_updater=0"), std::string::npos);

    // Without the settings program the options button only says so.
    u.btn_options->Click();
    ASSERT_EQ(game.toolkit.shown.size(), 1u);
    EXPECT_EQ(game.toolkit.shown[0].text, T(244));

    u.WebBrowser->OnBeforeNavigate2("http://news.example/a.html");
    EXPECT_EQ(u.StatusBar->Caption(), T(228) + "http://news.example/a.html ... ");
    u.WebBrowser->OnDownloadComplete();
    EXPECT_EQ(u.StatusBar->Caption(), T(229));
}

}  // namespace

TEST(WindowActions, RegisteredBrowserCommandKeepsItsArguments) {
    const struct Case {
        const char* registered;
        const char* program;
        std::vector<std::string> args;
    } cases[] = {
        {R"("C:\Browser\browser.exe" -osint -url "%1")",
         R"(C:\Browser\browser.exe)",
         {"-osint", "-url", "http://www.example/"}},
        {R"("C:\Program Files\B\b.exe")", R"(C:\Program Files\B\b.exe)", {"http://www.example/"}},
        {"browser %1 --new-tab=%1",
         "browser",
         {"http://www.example/", "--new-tab=http://www.example/"}},
        {"  b.exe   \"\"  ", "b.exe", {"", "http://www.example/"}},
        {"", "", {}},
    };
    for (const Case& c : cases) {
        const updater::SiteCommand site =
            updater::SiteCommandFor(c.registered, "http://www.example/");
        EXPECT_EQ(site.program, c.program) << c.registered;
        EXPECT_EQ(site.args, c.args) << c.registered;
    }
    // An address that itself holds "%1" is put in once, not again and again.
    EXPECT_EQ(updater::SiteCommandFor("b %1", "http://x/%1").args,
              std::vector<std::string>{"http://x/%1"});
}

TEST(WindowActions, PictureClickStartsTheRegisteredCommandWithTheAddress) {
#ifdef _WIN32
    GTEST_SKIP() << "the classes root is a hive file on POSIX only";
#endif
    GameDir game;
    const std::string dir = std::filesystem::current_path().string();
    brf_test::WriteFile("browser.sh", "#!/bin/sh\necho \"$@\" > \"" + dir + "/opened.txt\"\n");
    std::filesystem::permissions("browser.sh", std::filesystem::perms::owner_all);
    brf_test::WriteFile(
        "classes.reg",
        "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\r\n@=\"\\\"" + dir +
            "/browser.sh\\\" -url \\\"%1\\\"\"\r\n");
    brf_test::ScopedEnv classes("BRF_HKCR_FILE", dir + "/classes.reg");
    game.updater->img_portal->Click();
    ASSERT_TRUE(brf_test::WaitFor([] { return std::filesystem::exists("opened.txt"); }));
    EXPECT_TRUE(brf_test::WaitFor([] {
        return brf_test::ReadFile("opened.txt") == "-url " + BuiltUpdaterConfig().portalSite + "\n";
    })) << brf_test::ReadFile("opened.txt");
}
