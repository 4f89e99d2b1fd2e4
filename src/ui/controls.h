// The control layer: the window's controls as small objects that keep their
// own state (caption, enabled, lines, position, ...). The updater's logic
// talks only to these objects; a toolkit mirrors them onto real widgets by
// overriding the setters (and calling the base), and reports what the user
// did through the protected User* calls, which update the state and raise
// the control's event.
//
// Texts are in the Windows-1252 code page, as the text table holds them; a
// toolkit converts them at its own edge.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Position and size in pixels, relative to the parent's client area.
struct Bounds {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// Style flags of a control.
enum Style : uint32_t {
    kBold = 1u << 0,
    kRightAligned = 1u << 1,
    kCentered = 1u << 2,
    kDefaultButton = 1u << 3,
    kCancelButton = 1u << 4,  // Esc presses it
    kHandCursor = 1u << 5,
    kStretch = 1u << 6,
    kLoweredBevel = 1u << 7,
    kTabStop = 1u << 8,
};

class Control;

// How a control is laid out: the toolkit places and styles it from this.
struct ControlSpec {
    std::string name;
    Bounds bounds;
    int tabOrder = -1;  // -1: no tab stop
    uint32_t style = 0;
    std::string fontName;  // empty: the window's font
    int fontPoints = 8;
    Control* parent = nullptr;  // null: the form itself
    // A picture's artwork: the name of a picture resource of the program
    // (ui/resources/artwork.h). Empty: the picture shows none.
    std::string resource;
    // What assistive tools read for a picture, which has no caption.
    std::string accessibleName;
    // A form's window class, where the system names one (Windows); tools
    // that drive the window find it by this name. Empty: the toolkit's own.
    std::string windowClass;
};

class Control {
public:
    explicit Control(ControlSpec spec) : spec_(std::move(spec)) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const ControlSpec& Spec() const { return spec_; }

    virtual void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool Enabled() const { return enabled_; }

    virtual void SetCaption(const std::string& caption) { caption_ = caption; }
    const std::string& Caption() const { return caption_; }

private:
    ControlSpec spec_;
    bool enabled_ = true;
    std::string caption_;
};

using Label = Control;
using Panel = Control;

// A push button or a clickable picture.
class Button : public Control {
public:
    using Control::Control;
    std::function<void()> OnClick;

    // A click by the user: raises OnClick when the button is enabled.
    void Click() {
        if (Enabled() && OnClick) {
            OnClick();
        }
    }
};
using Picture = Button;

class CheckBox : public Control {
public:
    using Control::Control;
    // Raised by every change of the state, by the user or by the program.
    std::function<void()> OnClick;

    virtual void SetChecked(bool checked) {
        if (checked == checked_) {
            return;
        }
        checked_ = checked;
        if (OnClick) {
            OnClick();
        }
    }
    bool Checked() const { return checked_; }

private:
    bool checked_ = false;
};

// An editable combo box: its text (the caption) and a list of entries.
class ComboBox : public Control {
public:
    using Control::Control;
    // Raised when the user changes the text; text set by the program is silent.
    std::function<void()> OnChange;

    std::vector<std::string> Items;

    const std::string& Text() const { return Caption(); }
    void SetText(const std::string& text) { SetCaption(text); }

    // The user typed or chose `text`.
    void UserEdit(const std::string& text) {
        SetCaption(text);
        if (OnChange) {
            OnChange();
        }
    }
};

class ListBox : public Control {
public:
    using Control::Control;

    virtual void Clear() {
        lines_.clear();
        itemIndex_ = -1;
    }
    virtual void Add(const std::string& line) { lines_.push_back(line); }
    // Selects line `index` (-1: none) and scrolls it into view.
    virtual void SetItemIndex(int index) { itemIndex_ = index; }

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::vector<std::string>& Lines() const { return lines_; }
    int ItemIndex() const { return itemIndex_; }

private:
    std::vector<std::string> lines_;
    int itemIndex_ = -1;
};

class ProgressBar : public Control {
public:
    using Control::Control;
    virtual void SetMax(int32_t max) { max_ = max; }
    virtual void SetPosition(int32_t position) { position_ = position; }
    int32_t Max() const { return max_; }
    int32_t Position() const { return position_; }

private:
    int32_t max_ = 100;
    int32_t position_ = 0;
};

// A status bar with one text panel: the caption is the panel's text.
using StatusBar = Control;

// The embedded web browser: navigates by itself and reports two events.
class WebBrowser : public Control {
public:
    using Control::Control;
    std::function<void(const std::string& url)> OnBeforeNavigate2;
    std::function<void()> OnDownloadComplete;

    // Navigates to `url`, every optional argument left out.
    virtual void Navigate(const std::string& url) { locationURL_ = url; }
    const std::string& LocationURL() const { return locationURL_; }

    // What a toolkit that cannot show the page puts in its place, in the
    // player's language; the toolkit's reason follows it.
    virtual void SetUnavailableText(const std::string& text) { unavailableText_ = text; }
    const std::string& UnavailableText() const { return unavailableText_; }

private:
    std::string locationURL_;
    std::string unavailableText_;
};

// The top-level window: its caption is the window title.
class Form : public Control {
public:
    using Control::Control;
    std::function<void()> OnActivate;
    std::function<void()> OnClose;

    virtual void SetPosition(int left, int top) {
        left_ = left;
        top_ = top;
    }
    int Left() const { return left_; }
    int Top() const { return top_; }
    // Outer size, frame and title bar included.
    virtual int OuterWidth() const { return Spec().bounds.width; }
    virtual int OuterHeight() const { return Spec().bounds.height; }

    // Shows the window; the first showing activates it.
    virtual void Show() {
        if (!shown_) {
            shown_ = true;
            if (OnActivate) {
                OnActivate();
            }
        }
    }
    // Closes the window: OnClose runs, then the application ends.
    virtual void Close();
    bool Closed() const { return closed_; }
    virtual void Repaint() {}

private:
    int left_ = 0;
    int top_ = 0;
    bool shown_ = false;
    bool closed_ = false;
};

}  // namespace ui
