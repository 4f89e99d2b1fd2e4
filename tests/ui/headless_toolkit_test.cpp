// The control layer's contract on the headless toolkit, whose controls only
// keep their state: the player's actions are the controls' own calls.
#include "ui/headless/headless_toolkit.h"

#include "ui/toolkit_contract.h"

namespace {

struct HeadlessLane {
    // A loop of its own: a window closed by one case does not end the next's.
    plat::EventLoop loop;
    HeadlessLane() { plat::SetMainLoop(&loop); }
    ~HeadlessLane() { plat::SetMainLoop(nullptr); }

    std::unique_ptr<ui::Toolkit> Make(std::string&) {
        return std::make_unique<ui::HeadlessToolkit>();
    }
    void Click(ui::Button& button) { button.Click(); }
    void Toggle(ui::CheckBox& check) { check.SetChecked(!check.Checked()); }
    void Type(ui::ComboBox& box, const std::string& text) {
        for (size_t typed = 1; typed <= text.size(); ++typed) {
            box.UserEdit(text.substr(0, typed));
        }
    }
    void Choose(ui::ComboBox& box, int index) { box.UserEdit(box.Items.at(index)); }
};

}  // namespace

namespace ui_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Headless, ToolkitContract, HeadlessLane);
}  // namespace ui_contract
