// The toolkit behind the control layer: it makes the controls and provides
// the application services the window needs (message boxes, the
// confirmation dialog, the message loop, the screen). The headless toolkit
// keeps state and answers from a script; a window toolkit shows real widgets.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "platform/event_loop.h"
#include "platform/message_box.h"
#include "ui/controls.h"

namespace ui {

// Answers of the confirmation dialog with the buttons Yes, No and Yes to all.
enum class Confirmation { Yes, No, YesToAll };

// The work area of the primary monitor (the screen less the task bars).
struct WorkArea {
    bool found = false;  // false: no monitor reports itself as primary
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class Toolkit {
public:
    enum class Kind {
        Form,
        Label,
        Panel,
        Button,
        Picture,
        CheckBox,
        ComboBox,
        ListBox,
        ProgressBar,
        StatusBar,
        WebBrowser
    };

    virtual ~Toolkit() = default;

    // Makes a control of `kind`: the returned object is of the class that
    // Kind names (Picture a Button, Label and Panel a Control, ...).
    virtual std::unique_ptr<Control> CreateControl(Kind kind, ControlSpec spec) = 0;

    template <class T>
    std::unique_ptr<T> Create(Kind kind, ControlSpec spec) {
        return std::unique_ptr<T>(static_cast<T*>(CreateControl(kind, std::move(spec)).release()));
    }

    // A modal message box (MessageBoxA flags and answers).
    virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                           plat::BoxOwner owner) = 0;

    // The confirmation dialog with a question icon and the buttons Yes, No
    // and Yes to all.
    virtual Confirmation Confirm(const std::string& question) = 0;

    // The application's display of an error that escaped a handler.
    virtual void ShowException(const std::exception& error) = 0;

    virtual WorkArea PrimaryWorkArea() { return {}; }

    // The application object: its title, its loop.
    virtual void SetApplicationTitle(const std::string& title) { applicationTitle_ = title; }
    const std::string& ApplicationTitle() const { return applicationTitle_; }

    plat::EventLoop& Loop() { return plat::MainLoop(); }
    // Handles every pending message ("process messages").
    void ProcessMessages() { Loop().ProcessMessages(); }
    // Asks the application to end; the loop returns once the current message
    // is handled.
    void Terminate() { Loop().Terminate(); }
    bool Terminated() { return Loop().Terminated(); }

private:
    std::string applicationTitle_;
};

}  // namespace ui
