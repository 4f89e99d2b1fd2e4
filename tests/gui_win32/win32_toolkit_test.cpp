// The Win32 toolkit in this process: the control objects and their windows
// stay in step both ways, the confirmation dialog answers as pressed, and
// the platform loop's filter and posted tasks work with any loop pumping.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "gui_win32/window_driver.h"
#include "platform/event_loop.h"
#include "platform/hidden_window.h"
#include "platform/win32/message_pump.h"
#include "ui/window_toolkit.h"

namespace {

using K = ui::Toolkit::Kind;

ui::ControlSpec Spec(const char* name, ui::Bounds bounds, int tab = -1, uint32_t style = 0) {
    ui::ControlSpec spec;
    spec.name = name;
    spec.bounds = bounds;
    spec.tabOrder = tab;
    spec.style = style;
    return spec;
}

// Handles messages until `done` holds (bounded).
bool PumpUntil(ui::Toolkit& toolkit, const std::function<bool()>& done) {
    return brf_test::WaitFor(done, {.boundMs = 10000, .pollMs = 20, .pause = [&](uint32_t ms) {
                                        toolkit.ProcessMessages();
                                        toolkit.Loop().WaitMessage(static_cast<int32_t>(ms));
                                    }});
}

// A top-level window of this process (the other tests' programs may show
// windows of the same class at the same time).
HWND OwnWindow(const wchar_t* className, const wchar_t* title) {
    HWND found = nullptr;
    while ((found = FindWindowExW(nullptr, found, className, title)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(found, &process);
        if (process == GetCurrentProcessId()) {
            return found;
        }
    }
    return nullptr;
}

// Handles what is queued now and what that posts in turn.
void Drain(ui::Toolkit& toolkit) {
    MSG msg;
    for (int i = 0; i < 50 && PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); ++i) {
        toolkit.ProcessMessages();
    }
}

class Toolkit : public ::testing::Test {
protected:
    void SetUp() override {
        int argc = 0;
        char** argv = nullptr;
        std::string problem;
        toolkit = ui::MakeWindowToolkit(argc, argv, problem);
        ASSERT_TRUE(toolkit) << problem;
        form = toolkit->Create<ui::Form>(K::Form, Spec("form", {0, 0, 300, 200}));
    }
    void TearDown() override {
        form.reset();
        toolkit.reset();
    }
    HWND FormHwnd() const { return OwnWindow(L"TFUpdater", nullptr); }

    std::unique_ptr<ui::Toolkit> toolkit;
    std::unique_ptr<ui::Form> form;
};

TEST_F(Toolkit, UserInputReachesTheControlsAndProgramChangesAreSilent) {
    auto box = toolkit->Create<ui::ComboBox>(K::ComboBox, Spec("box", {10, 10, 200, 21}, 0));
    auto check = toolkit->Create<ui::CheckBox>(K::CheckBox, Spec("chk", {10, 40, 200, 17}, 1));
    auto list = toolkit->Create<ui::ListBox>(K::ListBox, Spec("log", {10, 60, 200, 50}, 2));
    int changes = 0;
    int clicks = 0;
    box->OnChange = [&] { ++changes; };
    check->OnClick = [&] { ++clicks; };
    box->Items = {"http://one.example/", "http://two.example/"};
    form->Show();
    HWND formHwnd = FormHwnd();
    ASSERT_NE(formHwnd, nullptr);

    // Text set by the program: shown, no event.
    box->SetText("http://start.example/");
    const std::vector<gui_test::Child> children = gui_test::ChildrenOf(formHwnd);
    HWND boxHwnd = nullptr;
    HWND edit = nullptr;
    HWND checkHwnd = nullptr;
    HWND listHwnd = nullptr;
    for (const auto& child : children) {
        if (child.className == L"ComboBox")
            boxHwnd = child.hwnd;
        if (child.className == L"Edit")
            edit = child.hwnd;
        if (child.className == L"Button")
            checkHwnd = child.hwnd;
        if (child.className == L"ListBox" && GetParent(child.hwnd) == formHwnd)
            listHwnd = child.hwnd;
    }
    ASSERT_TRUE(boxHwnd && edit && checkHwnd && listHwnd);
    EXPECT_EQ(gui_test::TextOf(boxHwnd), L"http://start.example/");
    EXPECT_EQ(changes, 0);

    // Typing: every key reaches the control's text and raises the event.
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : std::wstring(L"h\u00e4fen")) {
        PostMessageW(edit, WM_CHAR, c, 1);
    }
    ASSERT_TRUE(PumpUntil(*toolkit, [&] { return changes == 5; })) << changes;
    EXPECT_EQ(box->Text(),
              "h\xE4"
              "fen");  // Windows-1252, as the text table holds texts

    // Choosing a list entry gives the entry's text, not the old one.
    SendMessageW(boxHwnd, CB_SHOWDROPDOWN, TRUE, 0);  // fills the list
    SendMessageW(boxHwnd, CB_SETCURSEL, 1, 0);
    SendMessageW(formHwnd, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(boxHwnd), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(boxHwnd));
    SendMessageW(boxHwnd, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ(box->Text(), "http://two.example/");
    EXPECT_EQ(changes, 6);

    // The check box: a click toggles the state once with one event; the
    // program's change shows on the window and raises the event too.
    SendMessageW(checkHwnd, BM_CLICK, 0, 0);
    EXPECT_TRUE(check->Checked());
    EXPECT_EQ(clicks, 1);
    check->SetChecked(false);
    EXPECT_EQ(SendMessageW(checkHwnd, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(clicks, 2);

    // The log: lines in order, the selected last line, cleared with Clear.
    for (const char* line : {"one", "two", "three"}) {
        list->Add(line);
    }
    list->SetItemIndex(list->Count() - 1);
    EXPECT_EQ(gui_test::ListLines(listHwnd), (std::vector<std::wstring>{L"one", L"two", L"three"}));
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETITEMHEIGHT, 0, 0), 13);
    list->Clear();
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(Toolkit, DisabledButtonIgnoresEnterAndEscPressesTheCancelButton) {
    auto ok =
        toolkit->Create<ui::Button>(K::Button, Spec("ok", {10, 10, 80, 25}, 0, ui::kDefaultButton));
    auto cancel = toolkit->Create<ui::Button>(
        K::Button, Spec("cancel", {100, 10, 80, 25}, 1, ui::kCancelButton));
    auto label = toolkit->Create<ui::Label>(K::Label, Spec("label", {10, 50, 80, 13}));
    int okClicks = 0;
    int cancelClicks = 0;
    ok->OnClick = [&] { ++okClicks; };
    cancel->OnClick = [&] { ++cancelClicks; };
    ok->SetCaption("&OK");
    form->Show();
    HWND formHwnd = FormHwnd();
    ASSERT_NE(label, nullptr);
    SetFocus(formHwnd);

    struct Key {
        UINT key;
        bool okEnabled;
        int okAfter;
        int cancelAfter;
    };
    const std::vector<Key> keys = {
        {VK_RETURN, true, 1, 0},   // Enter presses the default button
        {VK_RETURN, false, 1, 0},  // ... unless it is disabled
        {VK_ESCAPE, true, 1, 1},   // Esc presses the cancel button
    };
    for (const Key& k : keys) {
        ok->SetEnabled(k.okEnabled);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(formHwnd, 100)) != FALSE, k.okEnabled);
        gui_test::PressKey(formHwnd, k.key);
        Drain(*toolkit);
        EXPECT_EQ(okClicks, k.okAfter) << k.key;
        EXPECT_EQ(cancelClicks, k.cancelAfter) << k.key;
    }
}

// The dialog's answers: each button, and Esc answering No (nothing is
// fetched again when the player just backs out).
TEST_F(Toolkit, ConfirmationDialogAnswersAsPressedAndEscMeansNo) {
    toolkit->SetApplicationTitle("BRF-Updater");
    struct Press {
        int id;  // 0: Esc
        ui::Confirmation expected;
    };
    const std::vector<Press> presses = {{IDYES, ui::Confirmation::Yes},
                                        {IDNO, ui::Confirmation::No},
                                        {10, ui::Confirmation::YesToAll},
                                        {0, ui::Confirmation::No}};
    for (const Press& p : presses) {
        std::wstring seenText;
        std::wstring seenTitle;
        std::thread presser([&] {
            HWND dialog = nullptr;
            brf_test::WaitFor(
                [&] {
                    dialog = OwnWindow(L"#32770", L"BRF-Updater");
                    return dialog != nullptr && IsWindowVisible(dialog);
                },
                gui_test::kWindowPatience);
            if (dialog == nullptr) {
                return;
            }
            seenTitle = gui_test::TextOf(dialog);
            seenText = gui_test::DialogTexts(dialog);
            if (p.id == 0) {
                gui_test::PressKey(dialog, VK_ESCAPE);
            } else {
                gui_test::Press(GetDlgItem(dialog, p.id));
            }
        });
        const ui::Confirmation answer = toolkit->Confirm(
            "Datei 'patch/h\xE4"
            "fen.upd' ist bereits vorhanden?");
        presser.join();
        EXPECT_EQ(answer, p.expected) << p.id;
        EXPECT_EQ(seenTitle, L"BRF-Updater");
        EXPECT_NE(seenText.find(L"Datei 'patch/h\u00e4fen.upd' ist bereits vorhanden?"),
                  std::wstring::npos);
    }
}

// A task posted while a loop other than the platform's pumps the thread
// (a modal dialog's, a toolkit's GetMessage loop) still runs; the filter
// sees messages before they are dispatched and keeps those it handles.
TEST(MessagePump, PostedTasksRunUnderAForeignLoopAndTheFilterSeesMessagesFirst) {
    plat::AttachLoopThread();
    bool ran = false;
    std::thread poster([&] { plat::PostTask([&] { ran = true; }); });
    poster.join();
    // A loop that knows nothing of tasks.
    const auto foreignLoop = [](uint32_t ms) {
        MSG msg;
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
        }
    };
    EXPECT_TRUE(brf_test::WaitFor([&] { return ran; },
                                  {.boundMs = 5000, .pollMs = 50, .pause = foreignLoop}));

    constexpr uint32_t kKept = plat::kWmUser + 7;
    constexpr uint32_t kPassed = plat::kWmUser + 8;
    std::vector<uint32_t> dispatched;
    std::vector<uint32_t> filtered;
    plat::HiddenWindow window("BrfFilterTest", plat::kWmUser,
                              [&](uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                                  dispatched.push_back(message);
                                  return 0;
                              });
    plat::SetMessageFilter([&](MSG& m) {
        if (m.hwnd != reinterpret_cast<HWND>(window.Handle())) {
            return false;
        }
        filtered.push_back(m.message);
        return m.message == kKept;
    });
    window.Post(kKept, 0, 0);
    window.Post(kPassed, 0, 0);
    plat::DispatchPlatformMessages();
    plat::SetMessageFilter(nullptr);
    EXPECT_EQ(filtered, (std::vector<uint32_t>{kKept, kPassed}));
    EXPECT_EQ(dispatched, (std::vector<uint32_t>{kPassed}));
}

}  // namespace
