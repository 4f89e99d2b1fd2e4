#include "ui/headless/headless_toolkit.h"

namespace ui {

namespace {

// A list box that tells the toolkit about every line added.
class ObservedListBox : public ListBox {
public:
    ObservedListBox(ControlSpec spec, HeadlessToolkit& toolkit)
        : ListBox(std::move(spec)), toolkit_(toolkit) {}
    void Add(const std::string& line) override {
        ListBox::Add(line);
        if (toolkit_.OnLineAdded) {
            toolkit_.OnLineAdded(line);
        }
    }

private:
    HeadlessToolkit& toolkit_;
};

}  // namespace

HeadlessToolkit::HeadlessToolkit() {
    plat::SetMessageBoxHandler([this](const plat::MessageBoxRequest& request) {
        return MessageBox(request.text ? request.text : "", request.caption ? request.caption : "",
                          request.flags, request.owner);
    });
}

HeadlessToolkit::~HeadlessToolkit() {
    plat::SetMessageBoxHandler(nullptr);
}

std::unique_ptr<Control> HeadlessToolkit::CreateControl(Kind kind, ControlSpec spec) {
    switch (kind) {
        case Kind::Form:
            return std::make_unique<Form>(std::move(spec));
        case Kind::Button:
        case Kind::Picture:
            return std::make_unique<Button>(std::move(spec));
        case Kind::CheckBox:
            return std::make_unique<CheckBox>(std::move(spec));
        case Kind::ComboBox:
            return std::make_unique<ComboBox>(std::move(spec));
        case Kind::ListBox:
            return std::make_unique<ObservedListBox>(std::move(spec), *this);
        case Kind::ProgressBar:
            return std::make_unique<ProgressBar>(std::move(spec));
        case Kind::WebBrowser:
            return std::make_unique<WebBrowser>(std::move(spec));
        case Kind::Label:
        case Kind::Panel:
        case Kind::StatusBar:
            break;
    }
    return std::make_unique<Control>(std::move(spec));
}

int HeadlessToolkit::MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                                plat::BoxOwner owner) {
    const bool yesNo = (flags & 0x0F) == plat::kMbYesNo;
    ShownBox box{text, caption, flags, owner, yesNo ? yesNoAnswer : plat::kIdOk, false};
    Record(box);
    return box.answer;
}

Confirmation HeadlessToolkit::Confirm(const std::string& question) {
    ShownBox box{question,
                 ApplicationTitle(),
                 plat::kMbIconQuestion,
                 plat::BoxOwner::FocusWindow,
                 static_cast<int>(confirmAnswer),
                 true};
    Record(box);
    return confirmAnswer;
}

void HeadlessToolkit::ShowException(const std::exception& error) {
    MessageBox(error.what(), ApplicationTitle(), plat::kMbOk | plat::kMbIconError,
               plat::BoxOwner::FocusWindow);
}

void HeadlessToolkit::Record(ShownBox box) {
    shown.push_back(box);
    if (OnShown) {
        OnShown(shown.back());
    }
}

}  // namespace ui
