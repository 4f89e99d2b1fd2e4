// The session's life: start-up, activation and close, another server,
// changed options, and the installed client's version.
#include "updater/session/u_session.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "index/game_files.h"
#include "net/rate_limit.h"
#include "net/system_proxy.h"
#include "platform/environment.h"
#include "platform/event_loop.h"
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

// The proxy of the options file, or none; true when the file names one.
bool UseProxyOfOptions(THttpClient& http, bool logClearing) {
    const COpt* opt = COpt::Get();
    if (opt->updater_proxyserver[0] != '\0' && opt->updater_proxyport != 0) {
        BRF_LOG(1, "setting proxy to %s:%i", opt->updater_proxyserver, opt->updater_proxyport);
        http.Proxy = opt->updater_proxyserver;
        http.ProxyPort = opt->updater_proxyport;
        return true;
    }
    if (logClearing) {
        BRF_LOG(1, "clearing proxy");
        http.Proxy.clear();
        http.ProxyPort = 0;
    }
    return false;
}

// Where the user's internet settings of Windows lie.
constexpr const char* kInternetSettings =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::string EnvOf(const char* lower, const char* upper) {
    return plat::GetEnv(lower).value_or(plat::GetEnv(upper).value_or(""));
}

}  // namespace

UpdateSession::UpdateSession(UpdaterConfig config, updater::SessionObserver& observer)
    : config_(std::move(config)), observer_(observer), serverAddress_(config_.defaultServer) {
    // The HTTP client with its design values: port 0, report level 0, body
    // file "Default.htm", header file "Head.txt", file modes off.
    sock_http = std::make_unique<THttpClient>();
    sock_http->OnSuccess = [this](CmdType cmd) { sock_httpSuccess(cmd); };
    sock_http->OnFailure = [this](CmdType cmd) { sock_httpFailure(cmd); };
    sock_http->OnPacketRecvd = [this](TSockTransport*) { sock_httpPacketRecvd(); };
    sock_http->OnConnectionFailed = [this](TSockTransport*) { sock_httpConnectionFailed(); };
    sock_http->OnInvalidHost = [this](bool& handled) { sock_httpInvalidHost(handled); };
}

UpdateSession::~UpdateSession() {
    *alive_ = false;
}

void UpdateSession::Start() {
    COpt* opt = COpt::Get();
    CLog::Get()->Open(opt->debug_loglevel, opt->debug_loglevelAI, opt->debug_logfile,
                      opt->clear_logfile, opt->max_filesize);
    BRF_LOG(1, "starting updater version %i, filename: %s", config_.updaterVersion,
            plat::ProgramPath().c_str());
    if (!Authenticating()) {
        BRF_LOG(1, "updates are not authenticated: this updater was built without a public key");
    }
    configProxy_ = UseProxyOfOptions(*sock_http, false);
    UseRateLimit();

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
        observer_.MessageBox(Text(kTextNoRegistryInfo), Text(kTextErrorCaption), plat::kMbOk,
                             plat::BoxOwner::FocusWindow);
        plat::MainLoop().Terminate();
        return;
    }
    CurrentLanguage = static_cast<int32_t>(language);

    EnterState(RunState::Idle);
    AddLog(kTextPressCheck);
    observer_.ServerAddressChanged(serverAddress_);

    ReadClientVersion();

    char dir[256] = {};
    if (!ReadInstallString("InstallDir", dir, sizeof dir)) {
        BRF_LOG(0, "** failed to get installation directory from registry");
        observer_.MessageBox(Text(kTextNoInstallDir), Text(kTextRegistryFailureCaption),
                             plat::kMbOk, plat::BoxOwner::FocusWindow);
        plat::MainLoop().Terminate();
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
        serverAddress_ = saved.front();
        observer_.ServerAddressChanged(serverAddress_);
    }
}

bool UpdateSession::ReadClientVersion() {
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
        for (const auto& [name, value] :
             {std::pair{"Version", &clientVersion}, std::pair{"Build", &clientBuild}}) {
            if (!ReadInstallDword(name, *value)) {
                BRF_LOG(0, "** failed to get %s from registry", updater::Lower(name).c_str());
                observer_.MessageBox(Text(kTextNoClientVersion), Text(kTextRegistryFailureCaption),
                                     plat::kMbOk, plat::BoxOwner::FocusWindow);
                plat::MainLoop().Terminate();
                return false;
            }
        }
    }
    observer_.ClientVersionRead(clientVersion);
    return true;
}

void UpdateSession::Activate() {
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
            Check();
        }
        std::error_code ignored;
        fs::remove(kUpdaterContainer, ignored);
        if (!tempCopy_) {
            tempCopy_ =
                updater::TempCopy::RemoveWhenEnded(CLog::Get()->appDirectory(), kTempProgram);
        }
    }
}

void UpdateSession::Close() {
    BRF_LOG(3, "entering function FormClose");
    stopped_ = true;
    StopTransfers();
    installedHashes_.reset();
    deltaApply_.reset();
    heldFileWait_.reset();
    installing_.reset();
    installCheck_.reset();
    {
        std::ofstream out(kServerAddressFile, std::ios::binary | std::ios::trunc);
        out << serverAddress_ << "\r\n";
    }
    if (sock_http->IsConnected) {
        BRF_LOG(1, "close is running while connections are active, close it");
        EnterState(RunState::Cancelled);
        sock_http->Disconnect();
    } else if (requestRunning_) {
        // Still looking up the host or connecting: that must not go on into a
        // transfer for a front end that is gone.
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

bool UpdateSession::OptionsChanged() {
    COpt* opt = COpt::Get();
    const int32_t language = opt->language;
    opt->Load();
    bool changed = false;
    if (opt->language != language) {
        BRF_LOG(1, "have to reset language");
        CurrentLanguage = opt->language / 3;
        changed = true;
    }
    configProxy_ = UseProxyOfOptions(*sock_http, true);
    UseRateLimit();
    return changed;
}

void UpdateSession::UseRateLimit() const {
    // Kept by the options file like any key it does not know.
    uint32_t kbps = 0;
    if (config_.limitKbps) {
        kbps = *config_.limitKbps;
    } else {
        for (const std::string& line : COpt::Get()->unknownLines) {
            if (line.rfind("updater_limit_kbps=", 0) == 0) {
                kbps = static_cast<uint32_t>(std::strtoul(line.c_str() + 19, nullptr, 10));
            }
        }
    }
    net::TransferRate().SetBytesPerSecond(uint64_t{kbps} * 1000 / 8);
    if (kbps != 0) {
        BRF_LOG(1, "the update's transfers are capped at %u kbit/s", kbps);
    }
}

void UpdateSession::UseSystemProxy() {
    if (configProxy_) {
        return;  // the options file's proxy goes first
    }
    const std::string host = net::HostOfUrl(serverAddress_);
    std::optional<net::ProxyChoice> choice;
    const char* source = "http_proxy";
    uint32_t enabled = 0;
    char server[1024] = {};
    CReg* registry = CReg::Get();
    if (registry->ReadDword(plat::RegRoot::CurrentUser, kInternetSettings, "ProxyEnable",
                            enabled) &&
        enabled != 0 &&
        registry->ReadString(plat::RegRoot::CurrentUser, kInternetSettings, "ProxyServer", server,
                             sizeof server)) {
        char bypass[4096] = {};
        registry->ReadString(plat::RegRoot::CurrentUser, kInternetSettings, "ProxyOverride", bypass,
                             sizeof bypass);
        choice = net::FromInternetSettings(true, server, bypass, host);
        source = "the internet settings";
    } else {
        choice = net::FromEnvironment(EnvOf("http_proxy", "HTTP_PROXY"),
                                      EnvOf("no_proxy", "NO_PROXY"), host);
    }
    if (choice) {
        BRF_LOG(1, "using the proxy %s:%i of %s", choice->host.c_str(), choice->port, source);
        sock_http->Proxy = choice->host;
        sock_http->ProxyPort = choice->port;
    } else {
        sock_http->Proxy.clear();
        sock_http->ProxyPort = 0;
    }
}

void UpdateSession::SetServerAddress(const std::string& address) {
    serverAddress_ = address;
    EnterState(RunState::Idle);
    ReadClientVersion();
}

namespace updater {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace updater
