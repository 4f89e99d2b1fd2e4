// The window: its controls, start-up, activation, closing, the user's
// actions, and what the session reports shown in the controls.
#include "updater/u_updater.h"

#include <algorithm>
#include <filesystem>

#include "platform/process.h"
#include "shared/base/c_reg.h"
#include "shared/base/s_logging.h"
#include "shared/options/s_options.h"
#include "texts/texts.h"

namespace fs = std::filesystem;
using updater::Text;

TFUpdater::TFUpdater(ui::Toolkit& toolkit, UpdaterConfig config)
    : toolkit_(toolkit), config_(config), session_(std::move(config), *this) {
    CreateControls();
    FormCreate();
}

TFUpdater::~TFUpdater() = default;

void TFUpdater::CreateControls() {
    using K = ui::Toolkit::Kind;
    auto spec = [](const char* name, ui::Bounds bounds, int tab, uint32_t style,
                   ui::Control* parent = nullptr) {
        ui::ControlSpec s;
        s.name = name;
        s.bounds = bounds;
        s.tabOrder = tab;
        s.style = style;
        s.fontName = "MS Sans Serif";
        s.parent = parent;
        return s;
    };
    // A picture's artwork and what assistive tools read for it: the site it
    // opens.
    auto picture = [&](const char* name, ui::Bounds bounds, uint32_t style, ui::Control* parent,
                       const char* resource, const char* accessibleName) {
        ui::ControlSpec s = spec(name, bounds, -1, style, parent);
        s.resource = resource;
        s.accessibleName = accessibleName;
        return toolkit_.Create<ui::Picture>(K::Picture, std::move(s));
    };
    ui::ControlSpec window = spec("FUpdater", {0, 0, 792, 573}, -1, 0);
    window.windowClass = "TFUpdater";
    form = toolkit_.Create<ui::Form>(K::Form, std::move(window));
    Panel1 = toolkit_.Create<ui::Panel>(K::Panel,
                                        spec("Panel1", {16, 7, 660, 62}, 9, ui::kLoweredBevel));
    img_brf = picture("img_brf", {1, 1, 658, 60}, ui::kHandCursor, Panel1.get(), "BRF_BANNER",
                      "Brinefall web site");
    Panel2 = toolkit_.Create<ui::Panel>(K::Panel,
                                        spec("Panel2", {681, 7, 96, 62}, 10, ui::kLoweredBevel));
    img_portal = picture("img_portal", {1, 1, 94, 60}, ui::kHandCursor | ui::kStretch, Panel2.get(),
                         "PORTAL_LOGO", "Partner portal web site");
    WebBrowser = toolkit_.Create<ui::WebBrowser>(
        K::WebBrowser, spec("WebBrowser", {16, 70, 761, 335}, 7, ui::kTabStop));
    lbl_host =
        toolkit_.Create<ui::Label>(K::Label, spec("lbl_host", {16, 408, 337, 13}, -1, ui::kBold));
    lbl_state =
        toolkit_.Create<ui::Label>(K::Label, spec("lbl_state", {400, 408, 105, 13}, -1, ui::kBold));
    lbl_updatesize = toolkit_.Create<ui::Label>(
        K::Label, spec("lbl_updatesize", {520, 408, 89, 13}, -1, ui::kRightAligned));
    nfo_updsize = toolkit_.Create<ui::Label>(
        K::Label, spec("nfo_updsize", {616, 408, 153, 13}, -1, ui::kRightAligned));
    box_host =
        toolkit_.Create<ui::ComboBox>(K::ComboBox, spec("box_host", {16, 424, 369, 21}, 1, 0));
    box_log = toolkit_.Create<ui::ListBox>(K::ListBox, spec("box_log", {400, 424, 377, 57}, 2, 0));
    chk_auto =
        toolkit_.Create<ui::CheckBox>(K::CheckBox, spec("chk_auto", {16, 456, 369, 17}, 5, 0));
    pnl_progress = toolkit_.Create<ui::ProgressBar>(
        K::ProgressBar, spec("pnl_progress", {400, 488, 377, 17}, 4, 0));
    btn_cancel = toolkit_.Create<ui::Button>(
        K::Button, spec("btn_cancel", {16, 520, 137, 25}, 3, ui::kBold | ui::kCancelButton));
    btn_options = toolkit_.Create<ui::Button>(
        K::Button, spec("btn_options", {512, 520, 129, 25}, 8, ui::kBold | ui::kDefaultButton));
    btn_check = toolkit_.Create<ui::Button>(
        K::Button, spec("btn_check", {648, 520, 129, 25}, 0, ui::kBold | ui::kDefaultButton));
    ui::ControlSpec label4 = spec("Label4", {168, 537, 329, 14}, -1, ui::kCentered);
    label4.fontName = "Tahoma";
    Label4 = toolkit_.Create<ui::Label>(K::Label, label4);
    StatusBar =
        toolkit_.Create<ui::StatusBar>(K::StatusBar, spec("StatusBar", {0, 554, 792, 19}, -1, 0));
    nfo_updsize->SetCaption("0");
    box_host->Items = {config_.defaultServer};
    pnl_progress->SetMax(100);

    form->OnActivate = [this] { FormActivate(); };
    form->OnClose = [this] { FormClose(); };
    btn_check->OnClick = [this] { btn_checkClick(); };
    btn_cancel->OnClick = [this] { btn_cancelClick(); };
    btn_options->OnClick = [this] { btn_optionsClick(); };
    chk_auto->OnClick = [this] { chk_autoClick(); };
    box_host->OnChange = [this] { box_hostChange(); };
    img_brf->OnClick = [this] { img_brfClick(); };
    img_portal->OnClick = [this] { img_portalClick(); };
    WebBrowser->OnBeforeNavigate2 = [this](const std::string& url) {
        WebBrowserBeforeNavigate2(url);
    };
    WebBrowser->OnDownloadComplete = [this] { WebBrowserDownloadComplete(); };
}

void TFUpdater::FormCreate() {
    const ui::WorkArea area = toolkit_.PrimaryWorkArea();
    if (area.found) {
        form->SetPosition((area.right - area.left - form->OuterWidth()) / 2,
                          (area.bottom - area.top - form->OuterHeight()) / 2);
    } else {
        form->SetPosition(0, 0);
    }
    box_log->Clear();
    session_.Start();
}

bool TFUpdater::RefreshVersionAndCaptions() {
    return session_.ReadClientVersion();
}

void TFUpdater::ClientVersionRead(uint32_t version) {
    lbl_host->SetCaption(Text(kTextServerLabel));
    lbl_state->SetCaption(Text(kTextActionLogLabel));
    lbl_updatesize->SetCaption(Text(kTextUpdateSizeLabel));
    chk_auto->SetCaption(Text(kTextAutoUpdate));
    btn_cancel->SetCaption(Text(kTextClose));
    btn_options->SetCaption(Text(kTextOptions));
    btn_check->SetCaption(
        Text(session_.State() == RunState::Ready ? kTextStartGame : kTextCheckVersion));
    WebBrowser->SetUnavailableText(Text(OwnText::NewsPageUnavailable));

    chk_auto->SetChecked(COpt::Get()->automate_updater != 0);

    form->SetCaption(updater::Printf("%s %.3f", Text(kTextWindowTitle), version * 0.001));
}

std::string TFUpdater::NewsPageAddress() const {
    return config_.webHost + (CurrentLanguage == kLanguageEnglish
                                  ? "/brf/script/clientnews_en.html"
                                  : "/brf/script/clientnews_de.html");
}

void TFUpdater::FormActivate() {
    WebBrowser->Navigate(NewsPageAddress());
    session_.Activate();
}

void TFUpdater::FormClose() {
    session_.Close();
}

void TFUpdater::btn_checkClick() {
    session_.Check();
}

void TFUpdater::btn_cancelClick() {
    session_.Cancel();
}

void TFUpdater::btn_optionsClick() {
    std::error_code error;
    if (!fs::is_regular_file("BRFConfig.exe", error)) {
        BRF_LOG(0, "** configuration exe not found");
        toolkit_.MessageBox(Text(kTextNoSetupProgram), Text(kTextErrorCaption), plat::kMbOk,
                            plat::BoxOwner::FocusWindow);
        return;
    }
    BRF_LOG(1, "try to execute configuration exe");
    uint32_t exitCode = 0;
    plat::RunProgramAndWait("BRFConfig.exe", &exitCode);
    if (session_.OptionsChanged()) {
        WebBrowser->Navigate(NewsPageAddress());
    }
    RefreshVersionAndCaptions();
}

void TFUpdater::chk_autoClick() {
    COpt* opt = COpt::Get();
    opt->Load();
    opt->automate_updater = chk_auto->Checked() ? 1 : 0;
    opt->Save();
}

void TFUpdater::box_hostChange() {
    session_.SetServerAddress(box_host->Text());
}

void TFUpdater::OpenSite(const std::string& address) {
    char command[256] = {};
    if (!CReg::Get()->ReadString(plat::RegRoot::ClassesRoot, "http\\shell\\open\\command", "",
                                 command, sizeof command)) {
        // No registered command: the system's own way of opening addresses.
        BRF_LOG(1, "opening: %s", address.c_str());
        plat::OpenWebAddress(address);
        return;
    }
    std::string text(command);
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    BRF_LOG(1, "opening: %s %s", text.c_str(), address.c_str());
    // The registered text is a command line, arguments and "%1" included:
    // starting the whole text as one program's name would never work.
    const updater::SiteCommand site = updater::SiteCommandFor(command, address);
    if (site.program.empty()) {
        plat::OpenWebAddress(address);
        return;
    }
    plat::StartCommand(site.program, site.args);
}

void TFUpdater::img_brfClick() {
    OpenSite(config_.webHost + "/");
}

void TFUpdater::img_portalClick() {
    OpenSite(config_.portalSite);
}

void TFUpdater::WebBrowserBeforeNavigate2(const std::string& url) {
    StatusBar->SetCaption(std::string(Text(kTextReceivingDocument)) + url + " ... ");
}

void TFUpdater::WebBrowserDownloadComplete() {
    StatusBar->SetCaption(Text(kTextDocumentLoaded));
}

void TFUpdater::LogLine(const std::string& line) {
    box_log->Add(line);
}

void TFUpdater::ShowNewestLine() {
    if (box_log->Count() > 0) {
        box_log->SetItemIndex(box_log->Count() - 1);
    }
}

void TFUpdater::Progress(int32_t position) {
    pnl_progress->SetPosition(position);
}

void TFUpdater::ProgressScale(int32_t scale) {
    pnl_progress->SetMax(scale);
}

void TFUpdater::UpdateSize(const std::string& text) {
    nfo_updsize->SetCaption(text);
}

void TFUpdater::CheckButtonEnabled(bool enabled) {
    btn_check->SetEnabled(enabled);
}

void TFUpdater::ReadyToStart() {
    btn_check->SetCaption(Text(kTextStartGame));
    btn_check->SetEnabled(true);
}

void TFUpdater::ServerAddressChanged(const std::string& address) {
    box_host->SetText(address);
}

int TFUpdater::MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                          plat::BoxOwner owner) {
    return toolkit_.MessageBox(text, caption, flags, owner);
}

updater::Reply TFUpdater::AskDownloadAgain(const std::string& question) {
    switch (toolkit_.Confirm(question)) {
        case ui::Confirmation::Yes:
            return updater::Reply::Yes;
        case ui::Confirmation::YesToAll:
            return updater::Reply::YesToAll;
        default:
            return updater::Reply::No;
    }
}

void TFUpdater::ShowError(const std::string& message) {
    toolkit_.ShowException(std::runtime_error(message));
}

void TFUpdater::Repaint() {
    form->Repaint();
}

void TFUpdater::CloseRequested() {
    form->Close();
}

namespace updater {

SiteCommand SiteCommandFor(const std::string& registered, const std::string& address) {
    // The words of the command line; a word in double quotes keeps its blanks.
    std::vector<std::string> words;
    size_t i = 0;
    while (i < registered.size()) {
        if (registered[i] == ' ' || registered[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = false;
        for (; i < registered.size() && (quoted || (registered[i] != ' ' && registered[i] != '\t'));
             ++i) {
            if (registered[i] == '"') {
                quoted = !quoted;
            } else {
                word += registered[i];
            }
        }
        words.push_back(std::move(word));
    }
    SiteCommand site;
    if (words.empty()) {
        return site;
    }
    site.program = words[0];
    bool placed = false;
    for (size_t k = 1; k < words.size(); ++k) {
        std::string arg = words[k];
        for (size_t at = arg.find("%1"); at != std::string::npos;
             at = arg.find("%1", at + address.size())) {
            arg.replace(at, 2, address);
            placed = true;
        }
        site.args.push_back(std::move(arg));
    }
    if (!placed) {
        site.args.push_back(address);
    }
    return site;
}

}  // namespace updater
