// The window: its controls, start-up, activation, closing, and the user's
// actions other than the update run.
#include "updater/u_updater.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "index/game_files.h"
#include "platform/locale.h"
#include "platform/process.h"
#include "platform/version_info.h"
#include "shared/base/c_reg.h"
#include "shared/base/s_logging.h"
#include "shared/options/s_options.h"
#include "texts/texts.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {

constexpr const char* kRegistryKey = "Software\\Brinefall";
constexpr const char* kServerAddressFile = "save/updateservers.sav";

// A registry value under HKEY_CURRENT_USER, else under HKEY_LOCAL_MACHINE.
bool ReadInstallDword(const char* name, uint32_t& out) {
    return CReg::Get()->ReadDword(plat::RegRoot::CurrentUser, kRegistryKey, name, out) ||
           CReg::Get()->ReadDword(plat::RegRoot::LocalMachine, kRegistryKey, name, out);
}

bool ReadInstallString(const char* name, char* buffer, uint32_t size) {
    return CReg::Get()->ReadString(plat::RegRoot::CurrentUser, kRegistryKey, name, buffer, size) ||
           CReg::Get()->ReadString(plat::RegRoot::LocalMachine, kRegistryKey, name, buffer, size);
}

// German as used in Germany, Switzerland, Austria, Luxembourg and
// Liechtenstein; every other user language gets English.
int32_t PreliminaryLanguage(uint16_t langId) {
    switch (langId) {
        case 0x0407:
        case 0x0807:
        case 0x0C07:
        case 0x1007:
        case 0x1407:
            return kLanguageGerman;
        default:
            return kLanguageEnglish;
    }
}

}  // namespace

TFUpdater::TFUpdater(ui::Toolkit& toolkit, UpdaterConfig config)
    : toolkit_(toolkit), config_(std::move(config)) {
    CreateControls();
    FormCreate();
}

TFUpdater::~TFUpdater() {
    *alive_ = false;
}

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
    SetUpdateScale(100);

    // The HTTP client with its design values: port 0, report level 0, body
    // file "Default.htm", header file "Head.txt", file modes off.
    sock_http = std::make_unique<THttpClient>();
    sock_http->OnSuccess = [this](CmdType cmd) { sock_httpSuccess(cmd); };
    sock_http->OnFailure = [this](CmdType cmd) { sock_httpFailure(cmd); };
    sock_http->OnPacketRecvd = [this](TSockTransport*) { sock_httpPacketRecvd(); };
    sock_http->OnConnectionFailed = [this](TSockTransport*) { sock_httpConnectionFailed(); };
    sock_http->OnInvalidHost = [this](bool& handled) { sock_httpInvalidHost(handled); };

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
    COpt* opt = COpt::Get();
    CLog::Get()->Open(opt->debug_loglevel, opt->debug_loglevelAI, opt->debug_logfile,
                      opt->clear_logfile, opt->max_filesize);
    BRF_LOG(1, "starting updater version %i, filename: %s", config_.updaterVersion,
            plat::ProgramPath().c_str());
    if (!Authenticating()) {
        BRF_LOG(1, "updates are not authenticated: this updater was built without a public key");
    }

    if (opt->updater_proxyserver[0] != '\0' && opt->updater_proxyport != 0) {
        BRF_LOG(1, "setting proxy to %s:%i", opt->updater_proxyserver, opt->updater_proxyport);
        sock_http->Proxy = opt->updater_proxyserver;
        sock_http->ProxyPort = opt->updater_proxyport;
    }

    const ui::WorkArea area = toolkit_.PrimaryWorkArea();
    if (area.found) {
        form->SetPosition((area.right - area.left - form->OuterWidth()) / 2,
                          (area.bottom - area.top - form->OuterHeight()) / 2);
    } else {
        form->SetPosition(0, 0);
    }

    // The working directories. Every later path names them in lower case, so
    // they are made in lower case: on a case-sensitive file system "Data"
    // would be another directory than the "data" the run writes into.
    for (const char* dir : {"data", "save", game_files::kPatchDir, kBackupDir}) {
        std::error_code ignored;
        fs::create_directory(dir, ignored);
    }

    CurrentLanguage = PreliminaryLanguage(plat::UserDefaultLangId());
    uint32_t language = 0;
    if (!ReadInstallDword("Language", language)) {
        BRF_LOG(0, "** failed to get language from registry");
        toolkit_.MessageBox(Text(kTextNoRegistryInfo), Text(kTextErrorCaption), plat::kMbOk,
                            plat::BoxOwner::FocusWindow);
        toolkit_.Terminate();
        return;
    }
    CurrentLanguage = static_cast<int32_t>(language);

    EnterState(RunState::Idle);
    box_log->Clear();
    AddLog(kTextPressCheck);
    box_host->SetText(box_host->Items.front());

    RefreshVersionAndCaptions();

    char dir[256] = {};
    if (!ReadInstallString("InstallDir", dir, sizeof dir)) {
        BRF_LOG(0, "** failed to get installation directory from registry");
        toolkit_.MessageBox(Text(kTextNoInstallDir), Text(kTextRegistryFailureCaption), plat::kMbOk,
                            plat::BoxOwner::FocusWindow);
        toolkit_.Terminate();
        return;
    }
    installDir = dir;
    BRF_LOG(1, "got from registry: language: %u, version: %i.%i, installdir: %s", language,
            static_cast<int32_t>(clientVersion), static_cast<int32_t>(clientBuild), dir);

    if (updater::Lower(plat::ProgramPath()).find(kTempProgram) != std::string::npos) {
        tempCopy_ = updater::TempCopy::HoldWhileRunning(CLog::Get()->appDirectory());
        RunSecondStage();
        return;
    }

    const std::vector<std::string> saved = version_index::LoadTextLines(kServerAddressFile);
    if (!saved.empty()) {
        box_host->SetText(saved.front());
    }
}

bool TFUpdater::RefreshVersionAndCaptions() {
    bool fromResource = false;
    const uint32_t size = plat::FileVersionInfoSize(game_files::kClientProgram);
    if (size != 0) {
        std::vector<uint8_t> block(size);
        plat::FixedFileInfo info{};
        if (plat::FileVersionInfo(game_files::kClientProgram, size, block.data()) &&
            plat::QueryFixedFileInfo(block.data(), size, &info)) {
            clientVersion = info.productVersionMS;
            clientBuild = info.productVersionLS;
            fromResource = true;
        }
    }
    if (!fromResource) {
        if (!ReadInstallDword("Version", clientVersion)) {
            BRF_LOG(0, "** failed to get version from registry");
            toolkit_.MessageBox(Text(kTextNoClientVersion), Text(kTextRegistryFailureCaption),
                                plat::kMbOk, plat::BoxOwner::FocusWindow);
            toolkit_.Terminate();
            return false;
        }
        if (!ReadInstallDword("Build", clientBuild)) {
            BRF_LOG(0, "** failed to get build from registry");
            toolkit_.MessageBox(Text(kTextNoClientVersion), Text(kTextRegistryFailureCaption),
                                plat::kMbOk, plat::BoxOwner::FocusWindow);
            toolkit_.Terminate();
            return false;
        }
    }

    lbl_host->SetCaption(Text(kTextServerLabel));
    lbl_state->SetCaption(Text(kTextActionLogLabel));
    lbl_updatesize->SetCaption(Text(kTextUpdateSizeLabel));
    chk_auto->SetCaption(Text(kTextAutoUpdate));
    btn_cancel->SetCaption(Text(kTextClose));
    btn_options->SetCaption(Text(kTextOptions));
    btn_check->SetCaption(Text(runState_ == RunState::Ready ? kTextStartGame : kTextCheckVersion));
    WebBrowser->SetUnavailableText(Text(OwnText::NewsPageUnavailable));

    chk_auto->SetChecked(COpt::Get()->automate_updater != 0);

    form->SetCaption(updater::Printf("%s %.3f", Text(kTextWindowTitle), clientVersion * 0.001));
    return true;
}

std::string TFUpdater::NewsPageAddress() const {
    return config_.webHost + (CurrentLanguage == kLanguageEnglish
                                  ? "/brf/script/clientnews_en.html"
                                  : "/brf/script/clientnews_de.html");
}

void TFUpdater::FormActivate() {
    WebBrowser->Navigate(NewsPageAddress());

    const COpt* opt = COpt::Get();
    if (opt->test_user[0] != '\0') {
        sock_http->HeaderInfo.UserId = opt->test_user;
    }
    if (opt->test_pass[0] != '\0') {
        sock_http->HeaderInfo.Password = opt->test_pass;
    }

    // The temporary copy of a self-replacement neither updates nor cleans up.
    if (plat::ProgramPath().find(kTempProgram) == std::string::npos) {
        if (opt->automate_updater != 0) {
            btn_checkClick();
        }
        std::error_code ignored;
        fs::remove(kUpdaterContainer, ignored);
        if (!tempCopy_) {
            tempCopy_ =
                updater::TempCopy::RemoveWhenEnded(CLog::Get()->appDirectory(), kTempProgram);
        }
    }
}

void TFUpdater::FormClose() {
    BRF_LOG(3, "entering function FormClose");
    stopped_ = true;
    StopTransfers();
    installedHashes_.reset();
    deltaApply_.reset();
    {
        std::ofstream out(kServerAddressFile, std::ios::binary | std::ios::trunc);
        out << box_host->Text() << "\r\n";
    }
    if (sock_http->IsConnected) {
        BRF_LOG(1, "close is running while connections are active, close it");
        EnterState(RunState::Cancelled);
        sock_http->Disconnect();
    } else if (requestRunning_) {
        // Still looking up the host or connecting: that must not go on into a
        // transfer for a window that is gone.
        sock_http->Abort();
    }
    std::error_code ignored;
    fs::remove(game_files::kVersionIndexPath, ignored);
    // A server list still waiting for its signed index goes with the run.
    fs::remove(kServerListTemp, ignored);
    fileProgress.reset();
    versionIndex = {};
    downloadList.clear();
    decodeAhead_.Discard();
    BRF_LOG(3, "done function FormClose");
}

void TFUpdater::btn_optionsClick() {
    std::error_code error;
    if (!fs::is_regular_file("BRFConfig.exe", error)) {
        BRF_LOG(0, "** configuration exe not found");
        toolkit_.MessageBox(Text(kTextNoSetupProgram), Text(kTextErrorCaption), plat::kMbOk,
                            plat::BoxOwner::FocusWindow);
        return;
    }
    COpt* opt = COpt::Get();
    const int32_t language = opt->language;
    BRF_LOG(1, "try to execute configuration exe");
    uint32_t exitCode = 0;
    plat::RunProgramAndWait("BRFConfig.exe", &exitCode);
    opt->Load();
    if (opt->language != language) {
        BRF_LOG(1, "have to reset language");
        CurrentLanguage = opt->language / 3;
        WebBrowser->Navigate(NewsPageAddress());
    }
    if (opt->updater_proxyserver[0] != '\0' && opt->updater_proxyport != 0) {
        BRF_LOG(1, "setting proxy to %s:%i", opt->updater_proxyserver, opt->updater_proxyport);
        sock_http->Proxy = opt->updater_proxyserver;
        sock_http->ProxyPort = opt->updater_proxyport;
    } else {
        BRF_LOG(1, "clearing proxy");
        sock_http->Proxy.clear();
        sock_http->ProxyPort = 0;
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
    EnterState(RunState::Idle);
    RefreshVersionAndCaptions();
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

namespace updater {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

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
