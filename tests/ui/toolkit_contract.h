// What every toolkit promises of the control layer (ui/controls.h,
// ui/toolkit.h): the same cases run against each toolkit in its lane's
// toolkit test, which instantiates them with a Lane of its own:
//
//   struct Lane {
//       // The toolkit, or null with `problem` saying why there is none.
//       std::unique_ptr<ui::Toolkit> Make(std::string& problem);
//       // The player's actions on a control's widget; each has been handled
//       // when it returns.
//       void Click(ui::Button& button);
//       void Toggle(ui::CheckBox& check);
//       // Types `text` (Windows-1252) key by key over the selected text.
//       void Type(ui::ComboBox& box, const std::string& text);
//       // Picks entry `index` of the box's list.
//       void Choose(ui::ComboBox& box, int index);
//   };
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, ToolkitContract, Lane);
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "support/test_support.h"
#include "ui/toolkit.h"

namespace ui_contract {

using K = ui::Toolkit::Kind;
using Lines = std::vector<std::string>;

inline ui::ControlSpec Spec(const char* name, ui::Bounds bounds, int tab = -1) {
    ui::ControlSpec spec;
    spec.name = name;
    spec.bounds = bounds;
    spec.tabOrder = tab;
    return spec;
}

// Waiting for a toolkit's own events: the thread handles its messages
// between two looks.
inline brf_test::Patience Pumping(ui::Toolkit& toolkit) {
    return {.boundMs = 10000, .pollMs = 20, .pause = [&toolkit](uint32_t ms) {
                toolkit.ProcessMessages();
                toolkit.Loop().WaitMessage(static_cast<int32_t>(ms));
            }};
}

template <class Lane>
class ToolkitContract : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        toolkit = lane.Make(problem);
        ASSERT_TRUE(toolkit) << problem;
        form = toolkit->template Create<ui::Form>(K::Form, Spec("form", {0, 0, 400, 300}));
    }
    void TearDown() override {
        controls.clear();
        form.reset();
        toolkit.reset();
    }
    // A control of the form, kept until the end of the test.
    template <class T>
    T& Make(K kind, const char* name, ui::Bounds bounds, int tab = -1) {
        controls.push_back(toolkit->CreateControl(kind, Spec(name, bounds, tab)));
        return dynamic_cast<T&>(*controls.back());
    }

    Lane lane;
    std::unique_ptr<ui::Toolkit> toolkit;
    std::unique_ptr<ui::Form> form;
    std::vector<std::unique_ptr<ui::Control>> controls;
};

TYPED_TEST_SUITE_P(ToolkitContract);

// Texts in the code page of the text table: "Größe &€" and "häfen".
inline const std::string kSize1252 = "Gr\xF6\xDF\x65 &\x80";
inline const std::string kHarbours1252 = "h\xE4\x66\x65n";

template <class T>
bool Is(ui::Control* control) {
    return dynamic_cast<T*>(control) != nullptr;
}

TYPED_TEST_P(ToolkitContract, EveryKindIsOfItsClassAndKeepsCaptionAndEnabledState) {
    const struct {
        K kind;
        const char* name;
        bool (*is)(ui::Control*);
    } cases[] = {
        {K::Label, "lbl", Is<ui::Control>},     {K::Panel, "pnl", Is<ui::Control>},
        {K::Button, "btn", Is<ui::Button>},     {K::Picture, "img", Is<ui::Button>},
        {K::CheckBox, "chk", Is<ui::CheckBox>}, {K::ComboBox, "box", Is<ui::ComboBox>},
        {K::ListBox, "log", Is<ui::ListBox>},   {K::ProgressBar, "bar", Is<ui::ProgressBar>},
        {K::StatusBar, "sb", Is<ui::Control>},  {K::WebBrowser, "web", Is<ui::WebBrowser>},
    };
    int top = 0;
    for (const auto& c : cases) {
        auto& control = this->template Make<ui::Control>(c.kind, c.name, {10, top += 25, 120, 21});
        EXPECT_TRUE(c.is(&control)) << c.name;
        EXPECT_EQ(control.Spec().name, c.name);
        EXPECT_TRUE(control.Enabled()) << c.name;
        // Texts stay in the code page they were given in.
        control.SetCaption(kSize1252);
        EXPECT_EQ(control.Caption(), kSize1252) << c.name;
        control.SetEnabled(false);
        EXPECT_FALSE(control.Enabled()) << c.name;
    }
}

TYPED_TEST_P(ToolkitContract, ProgramChangesRaiseOnlyTheEventsTheirClassPromises) {
    auto& box = this->template Make<ui::ComboBox>(K::ComboBox, "box", {10, 10, 200, 21}, 0);
    auto& check = this->template Make<ui::CheckBox>(K::CheckBox, "chk", {10, 40, 200, 17}, 1);
    auto& button = this->template Make<ui::Button>(K::Button, "btn", {10, 70, 80, 25}, 2);
    int changes = 0, toggles = 0, clicks = 0;
    box.OnChange = [&] { ++changes; };
    check.OnClick = [&] { ++toggles; };
    button.OnClick = [&] { ++clicks; };
    this->form->Show();

    // Text set by the program is silent; so are a button's caption and state.
    box.Items = {"http://one.example/", "http://two.example/"};
    box.SetText("http://start.example/");
    EXPECT_EQ(box.Text(), "http://start.example/");
    button.SetCaption("&OK");
    button.SetEnabled(false);
    button.SetEnabled(true);
    this->toolkit->ProcessMessages();
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(clicks, 0);

    // A check box raises its event for every change of its state, also the
    // program's, and for nothing else.
    const struct {
        bool checked;
        int events;
    } steps[] = {{true, 1}, {true, 1}, {false, 2}, {false, 2}};
    for (const auto& s : steps) {
        check.SetChecked(s.checked);
        EXPECT_EQ(check.Checked(), s.checked);
        EXPECT_EQ(toggles, s.events);
    }
}

TYPED_TEST_P(ToolkitContract, ThePlayersActionsReachTheControlsOnce) {
    auto& button = this->template Make<ui::Button>(K::Button, "btn", {10, 10, 80, 25}, 0);
    auto& check = this->template Make<ui::CheckBox>(K::CheckBox, "chk", {10, 40, 200, 17}, 1);
    auto& box = this->template Make<ui::ComboBox>(K::ComboBox, "box", {10, 70, 200, 21}, 2);
    int clicks = 0, toggles = 0;
    Lines seen;  // the box's text at each of its events
    button.OnClick = [&] { ++clicks; };
    check.OnClick = [&] { ++toggles; };
    box.OnChange = [&] { seen.push_back(box.Text()); };
    box.Items = {"http://one.example/", "http://two.example/"};
    this->form->Show();
    box.SetText("http://start.example/");

    this->lane.Click(button);
    EXPECT_EQ(clicks, 1);
    button.SetEnabled(false);
    this->lane.Click(button);
    EXPECT_EQ(clicks, 1) << "a disabled button was pressed";

    for (const bool checked : {true, false}) {
        this->lane.Toggle(check);
        EXPECT_EQ(check.Checked(), checked);
        EXPECT_EQ(toggles, checked ? 1 : 2);
    }

    // Every key raises the event with the text so far, in the code page of
    // the texts.
    const std::string text = kHarbours1252;
    this->lane.Type(box, text);
    Lines typed;
    for (size_t keys = 1; keys <= text.size(); ++keys) {
        typed.push_back(text.substr(0, keys));
    }
    ASSERT_GE(seen.size(), typed.size());
    EXPECT_EQ(Lines(seen.end() - typed.size(), seen.end()), typed);
    EXPECT_EQ(box.Text(), text);

    // Picking an entry gives the entry's text, not the old one.
    const size_t before = seen.size();
    this->lane.Choose(box, 1);
    EXPECT_GT(seen.size(), before);
    EXPECT_EQ(box.Text(), "http://two.example/");
    EXPECT_EQ(seen.back(), "http://two.example/");
}

TYPED_TEST_P(ToolkitContract, ListsBarsPagesAndTheWindowKeepWhatTheProgramSets) {
    auto& list = this->template Make<ui::ListBox>(K::ListBox, "log", {10, 10, 200, 50}, 0);
    auto& bar = this->template Make<ui::ProgressBar>(K::ProgressBar, "bar", {10, 70, 200, 17});
    auto& web = this->template Make<ui::WebBrowser>(K::WebBrowser, "web", {10, 100, 200, 100});
    this->form->Show();

    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);
    for (const char* line : {"one", "two", "dr\xEB"}) {
        list.Add(line);
    }
    list.SetItemIndex(list.Count() - 1);
    EXPECT_EQ(list.Lines(), (Lines{"one", "two", "dr\xEB"}));
    EXPECT_EQ(list.ItemIndex(), 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);

    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetMax(250000);
    bar.SetPosition(125000);
    EXPECT_EQ(bar.Max(), 250000);
    EXPECT_EQ(bar.Position(), 125000);

    web.SetUnavailableText("Die Seite fehlt: ");
    EXPECT_EQ(web.UnavailableText(), "Die Seite fehlt: ");

    ui::Form& form = *this->form;
    form.SetCaption(kSize1252);
    form.SetPosition(30, 40);
    EXPECT_EQ(form.Caption(), kSize1252);
    EXPECT_EQ(form.Left(), 30);
    EXPECT_EQ(form.Top(), 40);
    EXPECT_GE(form.OuterWidth(), 400);
    EXPECT_GE(form.OuterHeight(), 300);
}

TYPED_TEST_P(ToolkitContract, TheFirstShowActivatesAndCloseEndsTheApplicationOnce) {
    ui::Form& form = *this->form;
    int activations = 0, closes = 0;
    form.OnActivate = [&] { ++activations; };
    form.OnClose = [&] { ++closes; };
    form.Show();
    form.Show();
    EXPECT_EQ(activations, 1);
    EXPECT_FALSE(form.Closed());
    EXPECT_FALSE(this->toolkit->Terminated());
    form.Close();
    form.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(form.Closed());
    EXPECT_TRUE(this->toolkit->Terminated());
}

TYPED_TEST_P(ToolkitContract, TheApplicationKeepsItsTitleAndRunsPostedTasksInItsLoop) {
    this->toolkit->SetApplicationTitle("BRF-Updater");
    EXPECT_EQ(this->toolkit->ApplicationTitle(), "BRF-Updater");
    bool ran = false;
    plat::PostTask([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(brf_test::WaitFor([&] { return ran; }, Pumping(*this->toolkit)));
}

REGISTER_TYPED_TEST_SUITE_P(ToolkitContract, EveryKindIsOfItsClassAndKeepsCaptionAndEnabledState,
                            ProgramChangesRaiseOnlyTheEventsTheirClassPromises,
                            ThePlayersActionsReachTheControlsOnce,
                            ListsBarsPagesAndTheWindowKeepWhatTheProgramSets,
                            TheFirstShowActivatesAndCloseEndsTheApplicationOnce,
                            TheApplicationKeepsItsTitleAndRunsPostedTasksInItsLoop);

}  // namespace ui_contract
