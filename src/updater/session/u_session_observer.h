// SessionObserver: what an update session tells its front end to show, and
// the questions it asks. The window turns each call into its controls;
// brfupdate writes it to the console.
#pragma once

#include <cstdint>
#include <string>

#include "platform/message_box.h"

namespace updater {

// The answer to "download an existing file again?".
enum class Reply { Yes, No, YesToAll };

class SessionObserver {
public:
    virtual ~SessionObserver() = default;

    // The action log: a line added, and the newest line brought into view.
    virtual void LogLine(const std::string& line) = 0;
    virtual void ShowNewestLine() = 0;

    // The bar: its position and its scale, the run's update size in bytes.
    virtual void Progress(int32_t position) = 0;
    virtual void ProgressScale(int32_t scale) = 0;
    // The update size's display text.
    virtual void UpdateSize(const std::string& text) = 0;

    // The check button is usable or not; ReadyToStart makes it the button
    // that starts the game, usable.
    virtual void CheckButtonEnabled(bool enabled) = 0;
    virtual void ReadyToStart() = 0;

    // The server address the run uses changed (a slash was added, the last
    // one used was restored).
    virtual void ServerAddressChanged(const std::string& address) = 0;
    // The installed client's version was read (again): what shows it and
    // the captions in the current language are due.
    virtual void ClientVersionRead(uint32_t version) = 0;

    // A modal message box (MessageBoxA flags and answers), the question
    // whether to fetch a file that is already there, and the display of an
    // error of a request the user started (`message`, the application's
    // error display).
    virtual int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                           plat::BoxOwner owner) = 0;
    virtual Reply AskDownloadAgain(const std::string& question) = 0;
    virtual void ShowError(const std::string& message) = 0;

    // The front end may draw what changed before the run goes on.
    virtual void Repaint() = 0;
    // The game was started, or the user cancelled with nothing running: the
    // front end closes, which ends the session (UpdateSession::Close).
    virtual void CloseRequested() = 0;
};

}  // namespace updater
