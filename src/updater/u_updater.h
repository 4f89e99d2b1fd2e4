// TFUpdater: the updater's one window, a front end of the update session.
//
// It owns the controls, made by the toolkit the program chose, hands the
// user's actions to the session and shows what the session reports. The
// news page, the web sites and the status bar are the window's own; every
// decision about a run is the session's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/toolkit.h"
#include "updater/session/u_session.h"

class TFUpdater : private updater::SessionObserver {
public:
    // Creates the window and its controls for an updater built as `config`
    // and runs FormCreate.
    TFUpdater(ui::Toolkit& toolkit, UpdaterConfig config);
    ~TFUpdater() override;
    TFUpdater(const TFUpdater&) = delete;
    TFUpdater& operator=(const TFUpdater&) = delete;

    // Controls.
    std::unique_ptr<ui::Form> form;
    std::unique_ptr<ui::Panel> Panel1;
    std::unique_ptr<ui::Picture> img_brf;
    std::unique_ptr<ui::Panel> Panel2;
    std::unique_ptr<ui::Picture> img_portal;
    std::unique_ptr<ui::WebBrowser> WebBrowser;
    std::unique_ptr<ui::Label> lbl_host;
    std::unique_ptr<ui::Label> lbl_state;
    std::unique_ptr<ui::Label> lbl_updatesize;
    std::unique_ptr<ui::Label> nfo_updsize;
    std::unique_ptr<ui::ComboBox> box_host;
    std::unique_ptr<ui::ListBox> box_log;
    std::unique_ptr<ui::CheckBox> chk_auto;
    std::unique_ptr<ui::ProgressBar> pnl_progress;
    std::unique_ptr<ui::Button> btn_cancel;
    std::unique_ptr<ui::Button> btn_options;
    std::unique_ptr<ui::Button> btn_check;
    std::unique_ptr<ui::Label> Label4;
    std::unique_ptr<ui::StatusBar> StatusBar;

    // The session the window is the front end of.
    UpdateSession& Session() { return session_; }
    RunState State() const { return session_.State(); }

    // Lifecycle handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    // Reads the installed version again and sets every caption; false when
    // the version could not be determined (the user has been told and
    // termination requested).
    bool RefreshVersionAndCaptions();

    // User actions.
    void btn_checkClick();
    void btn_cancelClick();
    void btn_optionsClick();
    void chk_autoClick();
    void box_hostChange();
    void img_brfClick();
    void img_portalClick();
    void WebBrowserBeforeNavigate2(const std::string& url);
    void WebBrowserDownloadComplete();

private:
    void CreateControls();
    std::string NewsPageAddress() const;
    void OpenSite(const std::string& address);

    // What the session reports.
    void LogLine(const std::string& line) override;
    void ShowNewestLine() override;
    void Progress(int32_t position) override;
    void ProgressScale(int32_t scale) override;
    void UpdateSize(const std::string& text) override;
    void CheckButtonEnabled(bool enabled) override;
    void ReadyToStart() override;
    void ServerAddressChanged(const std::string& address) override;
    void ClientVersionRead(uint32_t version) override;
    int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                   plat::BoxOwner owner) override;
    updater::Reply AskDownloadAgain(const std::string& question) override;
    void ShowError(const std::string& message) override;
    void Repaint() override;
    void CloseRequested() override;

    ui::Toolkit& toolkit_;
    const UpdaterConfig config_;
    UpdateSession session_;
};

namespace updater {

// The program and arguments that open `address` with the system's
// registered command for web addresses (`"C:\...\browser.exe" -url "%1"`):
// the program is the quoted path at the start, or the text up to the first
// blank; the address takes the place of every "%1", or is appended when the
// command has none.
struct SiteCommand {
    std::string program;
    std::vector<std::string> args;
};
SiteCommand SiteCommandFor(const std::string& registered, const std::string& address);

}  // namespace updater
