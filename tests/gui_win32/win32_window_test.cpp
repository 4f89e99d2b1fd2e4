// The updater's real window under Wine, driven from outside as a player's
// assistive technology would: its controls found through the window tree,
// clicked and keyed through their message queues, against real servers.
#include <gtest/gtest.h>

#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "gui_win32/window_driver.h"
#include "net/test_http_server.h"
#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using gui_test::Child;
using Lines = std::vector<std::string>;

constexpr wchar_t kForm[] = L"TFUpdater";

// A game at client 1.040.0 with the window program installed as
// "updater.exe" (or another name) and the server address saved.
struct Game {
    brf_test::ScratchDir scratch;
    brf_test::GameDir game{scratch.path()};

    explicit Game(uint32_t language, const std::string& server = "",
                  const std::string& programName = "updater.exe") {
        EXPECT_TRUE(game.Registry(language, 1040, 0));
        fs::copy_file(UPDATER_PATH, game.Dir() / programName);
        if (!server.empty()) {
            game.Write("save/updateservers.sav", server + "\r\n");
        }
    }
};

const Child* ByText(const std::vector<Child>& children, const std::wstring& text) {
    for (const Child& child : children) {
        if (child.text == text) {
            return &child;
        }
    }
    return nullptr;
}

const Child* ByClass(const std::vector<Child>& children, const std::wstring& className) {
    for (const Child& child : children) {
        if (child.className == className) {
            return &child;
        }
    }
    return nullptr;
}

::testing::AssertionResult At(const Child* child, RECT expected, bool heightToo = true) {
    if (child == nullptr) {
        return ::testing::AssertionFailure() << "control not found";
    }
    const RECT& r = child->rect;
    const bool same = r.left == expected.left && r.top == expected.top &&
                      r.right - r.left == expected.right &&
                      (!heightToo || r.bottom - r.top == expected.bottom);
    if (same) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "at " << r.left << "," << r.top << " size " << r.right - r.left << "x"
           << r.bottom - r.top << ", expected " << expected.left << "," << expected.top << " size "
           << expected.right << "x" << expected.bottom;
}

std::wstring ButtonText(HWND form, int id) {
    return gui_test::TextOf(GetDlgItem(form, id));
}

HWND FindByClass(HWND form, const std::wstring& className) {
    const std::vector<Child> children = gui_test::ChildrenOf(form);
    const Child* child = ByClass(children, className);
    return child ? child->hwnd : nullptr;
}

bool LogHas(HWND form, const std::wstring& line) {
    for (const std::wstring& l : gui_test::ListLines(FindByClass(form, L"ListBox"))) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

HWND ButtonWithText(HWND form, const std::wstring& text) {
    return gui_test::FindChild(form, text, L"Button");
}

struct Captions {
    uint32_t language;
    const char* artifact;
    std::wstring title, server, log, size, check, close, options, automatic, firstLine;
    std::wstring noNewsPage;
};

// Start-up labels every control in the installed language, lays the
// controls out as designed, takes Tab through them in order, shows the
// browser's fallback panel under Wine, and Esc while idle closes the window.
TEST(UpdaterWindow, StartUpLabelsEveryControlAndEscClosesItWhenIdle) {
    const std::vector<Captions> cases = {
        {1, "win32-en.bmp", L"Auto-Updater: Installed Client-Version:  1.040", L"Update-Server:",
         L"Action-Log:", L"Update-Size:", L"&Check Version", L"&Close", L"&Options",
         L"Load update &automatically at next start", L"Press button [Check Version] to start ...",
         L"The news page cannot be shown here: "},
        {0, "win32-de.bmp", L"Auto-Updater: Installierte Client-Version:  1.040", L"Update-Server:",
         L"Aktions-Log:", L"Update-Gr\u00f6\u00dfe:", L"Version &Pr\u00fcfen", L"&Schlie\u00dfen",
         L"&Einstellungen", L"Update beim n\u00e4chsten Start &automatisch laden",
         L"Button [Version Pr\u00fcfen] klicken, um zu starten ...",
         L"Die Neuigkeiten k\u00f6nnen hier nicht angezeigt werden: "},
    };
    for (const Captions& c : cases) {
        SCOPED_TRACE(c.artifact);
        Game game(c.language);
        gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
        ASSERT_TRUE(program.Started());
        HWND form = program.WaitWindow(kForm);
        ASSERT_NE(form, nullptr);
        const SIZE client = gui_test::ClientSize(form);
        EXPECT_EQ(client.cx, 792);
        EXPECT_EQ(client.cy, 573);
        const LONG style = GetWindowLongW(form, GWL_STYLE);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
        EXPECT_EQ(gui_test::TextOf(form), c.title);
        // Centred on the primary monitor's work area, its origin not added.
        RECT work{};
        RECT outer{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        GetWindowRect(form, &outer);
        EXPECT_EQ(outer.left, (work.right - work.left - (outer.right - outer.left)) / 2);
        EXPECT_EQ(outer.top, (work.bottom - work.top - (outer.bottom - outer.top)) / 2);

        ASSERT_TRUE(brf_test::WaitFor([&] { return LogHas(form, c.firstLine); },
                                      gui_test::kWindowPatience));
        const std::vector<Child> children = gui_test::ChildrenOf(form);
        EXPECT_TRUE(At(ByText(children, c.server), {16, 408, 337, 13}));
        EXPECT_TRUE(At(ByText(children, c.log), {400, 408, 105, 13}));
        const Child* size = ByText(children, c.size);
        EXPECT_TRUE(At(size, {520, 408, 89, 13}));
        EXPECT_TRUE(size && (size->style & SS_TYPEMASK) == SS_RIGHT);
        EXPECT_TRUE(At(ByText(children, L"0"), {616, 408, 153, 13}));
        const Child* check = ByText(children, c.check);
        EXPECT_TRUE(At(check, {648, 520, 129, 25}));
        EXPECT_TRUE(check && (check->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        const Child* close = ByText(children, c.close);
        EXPECT_TRUE(At(close, {16, 520, 137, 25}));
        EXPECT_TRUE(close && close->id == IDCANCEL);
        EXPECT_TRUE(At(ByText(children, c.options), {512, 520, 129, 25}));
        const Child* automatic = ByText(children, c.automatic);
        EXPECT_TRUE(At(automatic, {16, 456, 369, 17}));
        EXPECT_EQ(SendMessageW(automatic->hwnd, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        const Child* box = ByClass(children, L"ComboBox");
        EXPECT_TRUE(At(box, {16, 424, 369, 0}, false));
        EXPECT_TRUE(box && (box->style & CBS_AUTOHSCROLL) && (box->style & 3) == CBS_DROPDOWN);
        EXPECT_EQ(box ? box->text : L"", L"http://update.brinefall.example/");
        // Its list drops down with the default server in it.
        PostMessageW(box->hwnd, CB_SHOWDROPDOWN, TRUE, 0);
        HWND list = nullptr;
        EXPECT_TRUE(brf_test::WaitFor(
            [&] { return IsWindowVisible(list = FindWindowW(L"ComboLBox", nullptr)); },
            gui_test::kWindowPatience));
        EXPECT_EQ(gui_test::ListLines(list), std::vector{std::wstring(box->text)});
        PostMessageW(box->hwnd, CB_SHOWDROPDOWN, FALSE, 0);
        EXPECT_TRUE(At(ByClass(children, L"ListBox"), {400, 424, 377, 57}));
        EXPECT_TRUE(At(ByClass(children, L"msctls_progress32"), {400, 488, 377, 17}));
        const Child* status = ByClass(children, L"msctls_statusbar32");
        EXPECT_TRUE(At(status, {0, 554, 792, 19}));
        // The pictures sit in their frames and name the sites they open.
        EXPECT_TRUE(At(ByText(children, L"Brinefall web site"), {17, 8, 658, 60}));
        EXPECT_TRUE(At(ByText(children, L"Partner portal web site"), {682, 8, 94, 60}));
        // Without an HTML engine a plain panel takes the browser's place; it
        // says why in the installed language and names the news page. The
        // status bar only ever shows the browser's own two states.
        const Child* browser = ByClass(children, L"BrfBrowserHost");
        EXPECT_TRUE(At(browser, {16, 70, 761, 335}));
        ASSERT_NE(browser, nullptr);
        EXPECT_EQ(browser->text.rfind(c.noNewsPage, 0), 0u) << browser->text;
        EXPECT_NE(browser->text.find(c.language == 1 ? L"/brf/script/clientnews_en.html"
                                                     : L"/brf/script/clientnews_de.html"),
                  std::wstring::npos);
        // No page, no navigation: the status bar's panel stays empty.
        EXPECT_EQ(SendMessageW(status->hwnd, WM_GETTEXTLENGTH, 0, 0), 0);

        // Tab order: the check button, the server box, the log, Close, the
        // check box, the browser, Options, and round again.
        std::vector<HWND> order;
        HWND at = GetNextDlgTabItem(form, nullptr, FALSE);
        for (int i = 0; i < 8 && at != nullptr; ++i) {
            order.push_back(at);
            at = GetNextDlgTabItem(form, at, FALSE);
        }
        const std::vector<HWND> expected = {
            check->hwnd,     box->hwnd,     FindByClass(form, L"ListBox"),     close->hwnd,
            automatic->hwnd, browser->hwnd, ByText(children, c.options)->hwnd, check->hwnd};
        EXPECT_EQ(order, expected);

        EXPECT_TRUE(gui_test::SaveScreenshot(form, fs::path(BRF_ARTIFACT_DIR) / c.artifact));

        // Esc while idle: the cancel button closes the window and the
        // server address is saved on the way out.
        gui_test::PressKey(form, VK_ESCAPE);
        DWORD status_ = 1;
        EXPECT_TRUE(program.WaitExit(15000, &status_));
        EXPECT_EQ(status_, 0u);
        EXPECT_EQ(game.game.Read("save/updateservers.sav"), "http://update.brinefall.example/\r\n");
    }
}

// The release the tests update to: a new file, and two files whose
// identical copies already wait in "patch/", so the player is asked.
std::string Fleet() {
    std::string text;
    for (int i = 0; i < 600; ++i) {
        text += "ship " + std::to_string(i) + ": sloop\r\n";
    }
    return text;
}

TEST(UpdaterWindow, FullUpdateWithYesToAllAndNoPatchNotesEndsWithStartGame) {
    brf_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    brf_test::PatchSet set(server.Root() / "set1");
    const std::string url = server.BaseUrl() + "set1/";
    Game game(1, url);
    set.ServerList("sea-1 7777\r\n");
    game.game.Write("data/ships/fleet.dat", "old fleet\r\n");
    Lines index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
    index.push_back("[1040.0]");
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"data-ships-fleet.dat.upd", Fleet()}, {"readme.txt.upd", "Brinefall 1.050\r\n"}}) {
        game.game.Write("patch/" + name, brf_test::Container(content));
        const Lines entry = set.Publish(name, content);
        index.insert(index.end(), entry.begin(), entry.end());
    }
    const Lines fresh = set.Publish("data-harbours.txt.upd", "Port Royal\r\nTortuga\r\n");
    index.insert(index.end(), fresh.begin(), fresh.end());
    index.push_back("");
    set.VersionIndex(index);

    gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
    HWND form = program.WaitWindow(kForm);
    ASSERT_NE(form, nullptr);
    HWND check = ButtonWithText(form, L"&Check Version");
    ASSERT_NE(check, nullptr);
    gui_test::Press(check);

    // The first identical copy asks; Yes to all answers for the second too.
    HWND question = program.WaitDialog(
        L"File 'patch/data-ships-fleet.dat.upd' is already "
        L"available, nevertheless download it again?");
    ASSERT_NE(question, nullptr) << "no re-download question";
    EXPECT_EQ(gui_test::TextOf(question), L"BRF-Updater");
    HWND yesToAll = GetDlgItem(question, 10);
    ASSERT_NE(yesToAll, nullptr);
    EXPECT_EQ(gui_test::TextOf(yesToAll), L"Yes to &All");
    EXPECT_NE(gui_test::FindChild(question, L"&Yes", L"Button"), nullptr);
    EXPECT_NE(gui_test::FindChild(question, L"&No", L"Button"), nullptr);
    gui_test::Press(yesToAll);

    // The next box is the patch-notes question, not a second re-download one.
    HWND notes = program.WaitDialog(L"Do you want to read the patch notes now?");
    ASSERT_NE(notes, nullptr);
    // The box is modal for the whole window, not only for the button that
    // had the focus: nothing else can be pressed while it waits.
    EXPECT_FALSE(IsWindowEnabled(form));
    EXPECT_EQ(gui_test::TextOf(notes), L"Update finished");
    EXPECT_EQ(gui_test::DialogTexts(notes).find(L"readme.txt.upd"), std::wstring::npos);
    gui_test::Press(GetDlgItem(notes, IDNO));

    ASSERT_TRUE(
        brf_test::WaitFor([&] { return ButtonText(form, GetDlgCtrlID(check)) == L"Start Game"; },
                          gui_test::kWindowPatience))
        << "the check button never turned into the start button";
    EXPECT_TRUE(IsWindowEnabled(check));
    EXPECT_TRUE(LogHas(form, L"Update finished, click button to start the game."));
    HWND bar = FindByClass(form, L"msctls_progress32");
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_TRUE(program.Dialogs().empty());
    EXPECT_EQ(game.game.Read("data/ships/fleet.dat"), Fleet());
    EXPECT_EQ(game.game.Read("readme.txt"), "Brinefall 1.050\r\n");
    EXPECT_EQ(game.game.Read("data/harbours.txt"), "Port Royal\r\nTortuga\r\n");
    EXPECT_EQ(game.game.Read("patch/backup/data-ships-fleet.dat"), "old fleet\r\n");

    // A click into the server box and a key typed there afterwards make the
    // button the check button again.
    HWND combo = FindByClass(form, L"ComboBox");
    ASSERT_NE(combo, nullptr);
    HWND edit = FindByClass(combo, L"Edit");
    ASSERT_NE(edit, nullptr);
    PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(edit, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    ASSERT_TRUE(brf_test::WaitFor([&] { return gui_test::FocusOf(form) == edit; },
                                  gui_test::kWindowPatience));
    const LRESULT end = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(end), end);
    PostMessageW(edit, WM_CHAR, L'x', 1);
    EXPECT_TRUE(brf_test::WaitFor(
        [&] { return ButtonText(form, GetDlgCtrlID(check)) == L"&Check Version"; },
        gui_test::kWindowPatience));

    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.WaitExit(15000));
    EXPECT_FALSE(game.game.Read("patch/_versions.txt").has_value());
    EXPECT_EQ(game.game.Read("save/updateservers.sav"), url + "x\r\n");
}

// Cancel during a transfer only stops the transfer; the window stays and a
// second press (nothing running any more) closes it.
TEST(UpdaterWindow, CancelDuringSlowTransferStopsItAndKeepsTheWindow) {
    std::atomic<bool> flowing{false};
    TestHttpServer slow([&](ServerConnection& connection) {
        const std::string body(200000, 'x');
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n");
        // Minutes, unless cancelled; the first pieces tell the test.
        flowing = connection.SendSlowly(body.substr(0, 300), 100, 50);
        connection.SendSlowly(body.substr(300), 100, 50);
    });
    Game game(1, slow.Url("/"));
    gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
    HWND form = program.WaitWindow(kForm);
    ASSERT_NE(form, nullptr);
    HWND check = ButtonWithText(form, L"&Check Version");
    ASSERT_NE(check, nullptr);
    gui_test::Press(check);
    ASSERT_TRUE(brf_test::WaitFor(
        [&] {
            return !slow.Requests().empty() && !IsWindowEnabled(check) &&
                   LogHas(form, L"Load actual game server list...");
        },
        gui_test::kWindowPatience));
    // Some bytes are on their way.
    ASSERT_TRUE(brf_test::WaitFor([&] { return flowing.load(); }));

    gui_test::Press(GetDlgItem(form, IDCANCEL));
    EXPECT_TRUE(
        brf_test::WaitFor([&] { return IsWindowEnabled(check); }, gui_test::kWindowPatience))
        << "the run did not stop";
    EXPECT_FALSE(program.WaitExit(500)) << "Cancel during a transfer closed the window";
    EXPECT_TRUE(IsWindowVisible(form));

    gui_test::Press(GetDlgItem(form, IDCANCEL));
    EXPECT_TRUE(program.WaitExit(15000));
    EXPECT_FALSE(game.game.Read("data/servers.dat").value_or("").size() == 200000u);
}

// An error that escapes the check button's handler reaches the
// application's error display, a box, and the window goes on working.
TEST(UpdaterWindow, ErrorOfTheFirstRequestIsShownInABoxAndTheWindowStays) {
    Game game(1, "https://127.0.0.1/");
    gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
    HWND form = program.WaitWindow(kForm);
    ASSERT_NE(form, nullptr);
    gui_test::Press(ButtonWithText(form, L"&Check Version"));
    HWND box = program.WaitDialog(L"HTTP Secure Socket is not supported");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui_test::TextOf(box), L"BRF-Updater");
    gui_test::Press(GetDlgItem(box, IDOK));
    EXPECT_TRUE(
        brf_test::WaitFor([&] { return program.Dialogs().empty(); }, gui_test::kWindowPatience));
    EXPECT_FALSE(program.WaitExit(300));
    gui_test::PressKey(form, VK_ESCAPE);
    EXPECT_TRUE(program.WaitExit(15000));
}

// Without the installation's registry values the program says so in a box
// owned by no window, and ends once it is confirmed.
TEST(UpdaterWindow, MissingRegistryValuesAreReportedAndTheProgramEnds) {
    Game game(1);
    ASSERT_TRUE(brf_test::host::InstallRegistry(
        "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n\r\n",
        game.scratch.path() / "empty.reg"));
    gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
    HWND box =
        program.WaitDialog(L"Couldn't read registry information! Please reinstall the game.");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui_test::TextOf(box), L"Error!");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    gui_test::Press(GetDlgItem(box, IDOK));
    DWORD status = 1;
    EXPECT_TRUE(program.WaitExit(15000, &status));
    EXPECT_EQ(status, 0u);
}

// The system's command for web addresses, set for one test and put back.
class RegisteredBrowser {
public:
    explicit RegisteredBrowser(const std::wstring& command) {
        had_ = Read(old_);
        RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr, REG_SZ, command.c_str(),
                        static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    ~RegisteredBrowser() {
        if (had_) {
            RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr, REG_SZ, old_.c_str(),
                            static_cast<DWORD>((old_.size() + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr);
        }
    }

private:
    static constexpr const wchar_t* kKey = L"http\\shell\\open\\command";
    static bool Read(std::wstring& value) {
        wchar_t text[1024] = {};
        DWORD size = sizeof text;
        if (RegGetValueW(HKEY_CLASSES_ROOT, kKey, nullptr, RRF_RT_REG_SZ, nullptr, text, &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        value = text;
        return true;
    }
    bool had_ = false;
    std::wstring old_;
};

// A click on a picture starts the registered command with the site's
// address in place of "%1", its other arguments kept.
TEST(UpdaterWindow, PictureClickOpensItsSiteWithTheRegisteredCommand) {
    Game game(1);
    const std::string record = (game.scratch.path() / "browser.txt").string();
    brf_test::ScopedEnv recordEnv("BRF_CHILD_RECORD", record);
    const std::string child = brf_test::host::HostPath(BRF_TEST_CHILD);
    RegisteredBrowser browser(L"\"" + std::wstring(child.begin(), child.end()) +
                              L"\" -osint -url \"%1\"");
    gui_test::Program program(game.game.Dir() / "updater.exe", game.game.Dir());
    HWND form = program.WaitWindow(kForm);
    ASSERT_NE(form, nullptr);
    struct Site {
        const wchar_t* picture;
        const char* address;
    };
    for (const Site& site :
         {Site{L"Brinefall web site", "http://www.brinefall.example/"},
          Site{L"Partner portal web site", "http://portal.brinefall.example/"}}) {
        fs::remove(record);
        HWND picture = gui_test::FindChild(form, site.picture, L"BrfPicture");
        ASSERT_NE(picture, nullptr);
        PostMessageW(picture, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(picture, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        // The record appears before it can be read whole under Wine: the
        // test waits for its lines, not for its name.
        Lines lines;
        ASSERT_TRUE(brf_test::WaitFor(
            [&] {
                lines = brf_test::Lines(brf_test::ReadFile(record));
                return lines.size() >= 5;
            },
            gui_test::kWindowPatience))
            << "nothing was started for " << site.address << ", or it recorded " << lines.size()
            << " lines";
        EXPECT_EQ(lines[0], "4");
        EXPECT_EQ(Lines(lines.begin() + 2, lines.begin() + 4), (Lines{"-osint", "-url"}));
        EXPECT_EQ(lines[4], site.address);
    }
    gui_test::PressKey(form, VK_ESCAPE);
    EXPECT_TRUE(program.WaitExit(15000));
}

// The second stage of the self-replacement, the program running as
// "updater.tmp.exe", tells the player in a box before it puts itself in
// place and starts the new "updater.exe".
TEST(UpdaterWindow, SecondStageShowsTheHandOverMessageThenStartsTheNewProgram) {
    Game game(1, "", "updater.tmp.exe");
    const fs::path dir = game.game.Dir();
    gui_test::Program program(dir / "updater.tmp.exe", dir);
    HWND box = program.WaitDialog(L"A new version of the updater was downloaded.");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(gui_test::TextOf(box), L"Attention!");
    EXPECT_NE(gui_test::DialogTexts(box).find(
                  L"A new version of the updater was downloaded.\nThis will now be installed, "
                  L"after that you can continue the update process."),
              std::wstring::npos)
        << std::string(gui_test::DialogTexts(box).begin(), gui_test::DialogTexts(box).end());
    gui_test::Press(GetDlgItem(box, IDOK));
    EXPECT_TRUE(program.WaitExit(15000));
    EXPECT_EQ(game.game.Read("updater.exe"), brf_test::ReadFile(UPDATER_PATH));

    // The new updater.exe comes up and removes the temporary copy.
    HWND started = nullptr;
    ASSERT_TRUE(brf_test::WaitFor(
        [&] {
            for (HWND top : gui_test::TopLevelWindows(kForm)) {
                std::error_code error;
                if (fs::equivalent(gui_test::ProgramOf(top), dir / "updater.exe", error)) {
                    started = top;
                }
            }
            return started != nullptr;
        },
        gui_test::kWindowPatience));
    EXPECT_TRUE(brf_test::WaitFor([&] { return !fs::exists(dir / "updater.tmp.exe"); },
                                  gui_test::kWindowPatience));
    PostMessageW(started, WM_CLOSE, 0, 0);
    EXPECT_TRUE(brf_test::WaitFor([&] { return !IsWindow(started); }, gui_test::kWindowPatience));
}

}  // namespace
