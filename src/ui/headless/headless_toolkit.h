// The headless toolkit: controls that only keep their state, dialogs that
// are answered from a script and recorded. It serves the console updater
// and the tests; nothing is drawn and no display is needed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/toolkit.h"

namespace ui {

class HeadlessToolkit : public Toolkit {
public:
    // A message box or confirmation dialog as it was shown, with its answer.
    struct ShownBox {
        std::string text;
        std::string caption;
        uint32_t flags = 0;
        plat::BoxOwner owner = plat::BoxOwner::None;
        int answer = 0;
        bool confirmation = false;  // the Yes / No / Yes-to-all dialog
    };

    // Installs itself as the process's message-box handler, so that boxes of
    // the shared base (the launcher's) are answered and recorded here too.
    HeadlessToolkit();
    ~HeadlessToolkit() override;

    // The script: the answer to boxes with Yes and No buttons, and to the
    // confirmation dialog. Boxes with an OK button are answered with OK.
    int yesNoAnswer = plat::kIdNo;
    Confirmation confirmAnswer = Confirmation::No;

    // What was shown, in order.
    std::vector<ShownBox> shown;

    // Observers: a line added to a list box, a box shown.
    std::function<void(const std::string& line)> OnLineAdded;
    std::function<void(const ShownBox& box)> OnShown;

    std::unique_ptr<Control> CreateControl(Kind kind, ControlSpec spec) override;
    int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                   plat::BoxOwner owner) override;
    Confirmation Confirm(const std::string& question) override;
    void ShowException(const std::exception& error) override;

private:
    void Record(ShownBox box);
};

}  // namespace ui
