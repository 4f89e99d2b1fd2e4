// The Win32 toolkit in this process: the control layer's contract on the
// system's controls, the control objects' changes shown on their windows,
// the dialog keys, the confirmation dialog's answers, and the platform
// loop's filter and posted tasks with any loop pumping.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "gui_win32/window_driver.h"
#include "platform/event_loop.h"
#include "platform/hidden_window.h"
#include "platform/message_pump.h"
#include "ui/toolkit_contract.h"
#include "ui/win32/artwork.h"
#include "ui/window_toolkit.h"

namespace {

using K = ui::Toolkit::Kind;
using ui_contract::Pumping;

ui::ControlSpec Spec(const char* name, ui::Bounds bounds, int tab = -1, uint32_t style = 0) {
    ui::ControlSpec spec = ui_contract::Spec(name, bounds, tab);
    spec.style = style;
    return spec;
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

// The form of this process: the fixture's names its own class, the
// contract's takes the toolkit's.
HWND FormHwnd() {
    HWND own = OwnWindow(L"BrfToolkitTest", nullptr);
    return own != nullptr ? own : OwnWindow(L"BrfForm", nullptr);
}

// The window of a control of the form: the child at the control's place.
HWND WindowOf(const ui::Control& control) {
    HWND form = FormHwnd();
    const ui::Bounds& at = control.Spec().bounds;
    for (const gui_test::Child& child : gui_test::ChildrenOf(form)) {
        if (GetParent(child.hwnd) == form && child.rect.left == at.left &&
            child.rect.top == at.top) {
            return child.hwnd;
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

struct Win32Lane {
    ui::Toolkit* toolkit = nullptr;

    std::unique_ptr<ui::Toolkit> Make(std::string& problem) {
        int argc = 0;
        char** argv = nullptr;
        auto made = ui::MakeWindowToolkit(argc, argv, problem);
        toolkit = made.get();
        return made;
    }
    // A click by the mouse: the system's click message.
    void Press(const ui::Control& control) {
        SendMessageW(WindowOf(control), BM_CLICK, 0, 0);
        Drain(*toolkit);
    }
    void Click(ui::Button& button) { Press(button); }
    void Toggle(ui::CheckBox& check) { Press(check); }
    // The keys reach the edit field through the thread's queue.
    void Type(ui::ComboBox& box, const std::string& text) {
        HWND edit = FindWindowExW(WindowOf(box), nullptr, L"Edit", nullptr);
        SetFocus(edit);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        std::wstring keys(text.size(), L'\0');
        keys.resize(static_cast<size_t>(
            MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), keys.data(),
                                static_cast<int>(keys.size()))));
        for (wchar_t key : keys) {
            PostMessageW(edit, WM_CHAR, key, 1);
        }
        EXPECT_TRUE(brf_test::WaitFor([&] { return box.Text() == text; }, Pumping(*toolkit)))
            << box.Text();
    }
    // The list drops down (which fills it), the entry is selected and the
    // box tells its parent, as a click in the list does.
    void Choose(ui::ComboBox& box, int index) {
        HWND combo = WindowOf(box);
        SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    }
};

class Win32Toolkit : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        toolkit = lane.Make(problem);
        ASSERT_TRUE(toolkit) << problem;
        ui::ControlSpec window = Spec("form", {0, 0, 300, 200});
        window.windowClass = "BrfToolkitTest";  // how FormHwnd finds it
        form = toolkit->Create<ui::Form>(K::Form, std::move(window));
    }
    void TearDown() override {
        form.reset();
        toolkit.reset();
    }

    Win32Lane lane;
    std::unique_ptr<ui::Toolkit> toolkit;
    std::unique_ptr<ui::Form> form;
};

// What the program sets shows on the windows (the contract covers the
// control objects).
TEST_F(Win32Toolkit, ProgramChangesShowOnTheWindows) {
    auto box = toolkit->Create<ui::ComboBox>(K::ComboBox, Spec("box", {10, 10, 200, 21}, 0));
    auto check = toolkit->Create<ui::CheckBox>(K::CheckBox, Spec("chk", {10, 40, 200, 17}, 1));
    auto list = toolkit->Create<ui::ListBox>(K::ListBox, Spec("log", {10, 60, 200, 50}, 2));
    form->Show();

    box->SetText("http://start.example/");
    EXPECT_EQ(gui_test::TextOf(WindowOf(*box)), L"http://start.example/");

    HWND checkHwnd = WindowOf(*check);
    check->SetChecked(true);
    EXPECT_EQ(SendMessageW(checkHwnd, BM_GETCHECK, 0, 0), BST_CHECKED);
    check->SetChecked(false);
    EXPECT_EQ(SendMessageW(checkHwnd, BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // The log: lines in order, the selected last line, cleared with Clear.
    HWND listHwnd = WindowOf(*list);
    for (const char* line : {"one", "two", "dr\xEB"}) {
        list->Add(line);
    }
    list->SetItemIndex(list->Count() - 1);
    EXPECT_EQ(gui_test::ListLines(listHwnd),
              (std::vector<std::wstring>{L"one", L"two", L"dr\u00eb"}));
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETITEMHEIGHT, 0, 0), 13);
    list->Clear();
    EXPECT_EQ(SendMessageW(listHwnd, LB_GETCOUNT, 0, 0), 0);
}

TEST_F(Win32Toolkit, DisabledButtonIgnoresEnterAndEscPressesTheCancelButton) {
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

// A picture's artwork comes by its resource name and is stretched only
// when the control says so; its window text is its accessible name.
TEST_F(Win32Toolkit, APictureShowsItsResourceAndReadsAsItsName) {
    struct Case {
        const char* resource;
        bool stretch;
        LONG width, height;  // 0: no bitmap
    };
    const Case cases[] = {{"BRF_BANNER", false, 658, 60},
                          {"PORTAL_LOGO", true, 94, 60},
                          {"PORTAL_LOGO", false, 188, 120},
                          {"img_portal", true, 0, 0},
                          {"", true, 0, 0}};
    for (const Case& c : cases) {
        HBITMAP bitmap = ui::win32::LoadArt(c.resource, 94, 60, c.stretch);
        BITMAP info{};
        if (bitmap != nullptr) {
            GetObjectW(bitmap, sizeof info, &info);
            DeleteObject(bitmap);
        }
        EXPECT_EQ(info.bmWidth, c.width) << c.resource;
        EXPECT_EQ(info.bmHeight < 0 ? -info.bmHeight : info.bmHeight, c.height) << c.resource;
    }
    ui::ControlSpec spec = Spec("img", {10, 10, 94, 60}, -1, ui::kStretch);
    spec.resource = "PORTAL_LOGO";
    spec.accessibleName =
        "Karte der H\xE4"
        "fen";
    auto picture = toolkit->Create<ui::Picture>(K::Picture, spec);
    picture->SetCaption("not shown");
    EXPECT_NE(gui_test::FindChild(FormHwnd(), L"Karte der H\u00e4fen", L"BrfPicture"), nullptr);
}

// The dialog's answers: each button, and Esc answering No (nothing is
// fetched again when the player just backs out).
TEST_F(Win32Toolkit, ConfirmationDialogAnswersAsPressedAndEscMeansNo) {
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

namespace ui_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, ToolkitContract, Win32Lane);
}  // namespace ui_contract
