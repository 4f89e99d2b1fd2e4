// brfupdate: the console updater, a front end of the update session. Run in
// a game directory, it does what the updater window does from start-up to
// close: the start-up, the activation, a press of the check button (unless
// activation started a run already), the message loop until the run stops,
// and the close as a user would do it. Every action-log line goes to
// standard output, every message box to standard error.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/event_loop.h"
#include "shared/options/s_options.h"
#include "texts/cp1252.h"
#include "updater/session/built_config.h"
#include "updater/session/program_services.h"

namespace {

constexpr int kExitReady = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;
constexpr int kExitDiffers = 3;

const char kUsage[] =
    "usage: brfupdate [options]\n"
    "\n"
    "Updates the game installed in the current directory from its update\n"
    "server, as the updater window would, and prints the action log to\n"
    "standard output and every message box to standard error.\n"
    "\n"
    "options:\n"
    "  --server URL          the update server's address, as if typed into the\n"
    "                        server box (default: the last one used)\n"
    "  --answer yes|no|all   answer to \"download an existing file again?\"\n"
    "                        (default no: keep the identical copy)\n"
    "  --patchnotes yes|no   open the patch notes after an update (default no)\n"
    "  --start               start the game when the client is up to date\n"
    "  --timeout SECONDS     a transfer that receives fewer than 1024 bytes in\n"
    "                        this many seconds fails, and so does a host lookup\n"
    "                        or a connect that takes longer; a long but steady\n"
    "                        download never times out (default 60; 0 waits for\n"
    "                        ever)\n"
    "  --no-deltas           fetch every changed file whole, ignoring the deltas\n"
    "                        the index announces, as updaters that know none do\n"
    "  --decode-at-install   decode every file in the install phase instead of\n"
    "                        while the next one downloads (slower; the same\n"
    "                        result and the same log)\n"
    "  --connections N       fetch files ahead of their turn on up to N\n"
    "                        connections at once, 0 to 4 (default 4; 0 fetches\n"
    "                        each file at its turn, one after another)\n"
    "  --no-bundles          fetch file by file, ignoring the bundles the index\n"
    "                        announces\n"
    "  --limit-rate KBPS     cap the whole update's transfers at KBPS kilobits per\n"
    "                        second (8000 is 1 MB/s), for a line others share;\n"
    "                        0 for none (default: updater_limit_kbps of\n"
    "                        config.ini, else none)\n"
    "  --verify              change nothing: compare every file of the installed\n"
    "                        release with the newest release the server lists,\n"
    "                        and list what is missing or differs (files players\n"
    "                        change themselves, such as settings, are left out)\n"
    "  --repair              update as usual, then compare the contents of every\n"
    "                        file of the release and fetch and install exactly\n"
    "                        what differs (every run already repairs files that\n"
    "                        are missing or have another size)\n"
    "  --help                show this text\n"
    "\n"
    "exit status: 0 the client is up to date (after the update; with --verify:\n"
    "every file matches), 1 the run stopped anywhere else, 2 bad usage, 3 with\n"
    "--verify: some files differ or an older release is installed\n";

struct Options {
    std::string server;
    bool serverGiven = false;
    updater::Reply answer = updater::Reply::No;
    bool patchNotes = false;
    bool start = false;
    int32_t timeoutSeconds = 60;
    bool deltas = true;
    bool decodeAhead = true;
    unsigned connections = 4;
    bool bundles = true;
    std::optional<uint32_t> limitKbps;
    InstallCheck installCheck = InstallCheck::Sizes;
};

int Usage(const char* problem) {
    std::fprintf(stderr, "brfupdate: %s\n\n%s", problem, kUsage);
    return kExitUsage;
}

// Parses the command line; returns -1 when it is fine, else the exit status.
int Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return kExitReady;
        } else if (arg == "--start") {
            options.start = true;
        } else if (arg == "--no-deltas") {
            options.deltas = false;
        } else if (arg == "--decode-at-install") {
            options.decodeAhead = false;
        } else if (arg == "--no-bundles") {
            options.bundles = false;
        } else if (arg == "--verify" || arg == "--repair") {
            const InstallCheck check =
                arg == "--verify" ? InstallCheck::Verify : InstallCheck::Repair;
            if (options.installCheck != InstallCheck::Sizes && options.installCheck != check) {
                return Usage("--verify and --repair exclude each other");
            }
            options.installCheck = check;
        } else if (arg == "--connections" && hasValue) {
            const std::string value = argv[++i];
            if (value.size() != 1 || value[0] < '0' || value[0] > '4') {
                return Usage("--connections takes a number from 0 to 4");
            }
            options.connections = static_cast<unsigned>(value[0] - '0');
        } else if (arg == "--limit-rate" && hasValue) {
            const std::string value = argv[++i];
            char* end = nullptr;
            const unsigned long kbps = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || value[0] == '-' || kbps > 100000000) {
                return Usage("--limit-rate takes kilobits per second, 0 for no cap");
            }
            options.limitKbps = static_cast<uint32_t>(kbps);
        } else if (arg == "--server" && hasValue) {
            options.server = argv[++i];
            options.serverGiven = true;
        } else if (arg == "--answer" && hasValue) {
            const std::string value = argv[++i];
            if (value == "yes") {
                options.answer = updater::Reply::Yes;
            } else if (value == "no") {
                options.answer = updater::Reply::No;
            } else if (value == "all") {
                options.answer = updater::Reply::YesToAll;
            } else {
                return Usage("--answer takes yes, no or all");
            }
        } else if (arg == "--patchnotes" && hasValue) {
            const std::string value = argv[++i];
            if (value != "yes" && value != "no") {
                return Usage("--patchnotes takes yes or no");
            }
            options.patchNotes = value == "yes";
        } else if (arg == "--timeout" && hasValue) {
            const std::string value = argv[++i];
            char* end = nullptr;
            const long seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || seconds < 0 || seconds > 2000000) {
                return Usage("--timeout takes a number of seconds from 0 to 2000000");
            }
            options.timeoutSeconds = static_cast<int32_t>(seconds);
        } else {
            return Usage(("unknown or incomplete option: " + arg).c_str());
        }
    }
    return -1;
}

// What the session reports, on the console: the action log on standard
// output, each box as "[caption] text" on standard error with the answer
// the options give. The boxes of the shared base (the game's start) come
// here too.
class ConsoleFrontEnd : public updater::SessionObserver {
public:
    explicit ConsoleFrontEnd(const Options& options) : options_(options) {
        plat::SetMessageBoxHandler([this](const plat::MessageBoxRequest& request) {
            return MessageBox(request.text ? request.text : "",
                              request.caption ? request.caption : "", request.flags, request.owner);
        });
    }
    ~ConsoleFrontEnd() override { plat::SetMessageBoxHandler(nullptr); }
    ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
    ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;

    // The session to close when the game was started.
    UpdateSession* session = nullptr;
    bool closed = false;

    void LogLine(const std::string& line) override {
        std::printf("%s\n", Cp1252ToUtf8(line.c_str()).c_str());
        std::fflush(stdout);
    }
    int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                   plat::BoxOwner) override {
        Show(caption, text);
        if ((flags & 0x0F) == plat::kMbYesNo) {
            return options_.patchNotes ? plat::kIdYes : plat::kIdNo;
        }
        return plat::kIdOk;
    }
    updater::Reply AskDownloadAgain(const std::string& question) override {
        Show(kTitle, question);
        return options_.answer;
    }
    void ShowError(const std::string& message) override { Show(kTitle, message); }
    void CloseRequested() override {
        session->Close();
        closed = true;
        plat::MainLoop().Terminate();
    }
    // Nothing else of the window has a place on the console.
    void ShowNewestLine() override {}
    void Progress(int32_t) override {}
    void ProgressScale(int32_t) override {}
    void UpdateSize(const std::string&) override {}
    void CheckButtonEnabled(bool) override {}
    void ReadyToStart() override {}
    void ServerAddressChanged(const std::string&) override {}
    void ClientVersionRead(uint32_t) override {}
    void Repaint() override {}

    static constexpr const char* kTitle = "BRF-Updater";

    static void Show(const std::string& caption, const std::string& text) {
        std::fprintf(stderr, "[%s] %s\n", Cp1252ToUtf8(caption.c_str()).c_str(),
                     Cp1252ToUtf8(text.c_str()).c_str());
        std::fflush(stderr);
    }

private:
    const Options& options_;
};

int Drive(ConsoleFrontEnd& console, UpdateSession& session, const Options& options) {
    const plat::EventLoop& loop = plat::MainLoop();
    session.Start();
    if (loop.Terminated()) {
        return kExitStopped;  // the start-up failed and told the user
    }
    if (options.serverGiven) {
        session.SetServerAddress(options.server);
    }
    // The limit is a stall rule, not a bound on the whole transfer: a large
    // patch on a slow but working line must still arrive.
    session.sock_http->TimeOut = 0;
    session.sock_http->ConnectTimeOut = options.timeoutSeconds * 1000;
    session.sock_http->StallTimeOut = options.timeoutSeconds * 1000;
    session.sock_http->StallMinBytes = 1024;
    session.Activate();
    // Activation starts the run by itself when automatic updating is on.
    if (COpt::Get()->automate_updater == 0 && !loop.Terminated()) {
        session.Check();
    }
    RunUntilStopped(session);
    if (loop.Terminated()) {
        return kExitStopped;
    }
    if (options.installCheck == InstallCheck::Verify) {
        const std::optional<size_t> differing = session.Differing();
        session.Close();
        return !differing ? kExitStopped : *differing == 0 ? kExitReady : kExitDiffers;
    }
    const bool ready = session.State() == RunState::Ready;
    if (ready && options.start) {
        session.Check();
        if (console.closed) {
            return kExitReady;  // the game was started and the session closed
        }
        session.Close();
        return kExitStopped;
    }
    session.Close();
    return ready ? kExitReady : kExitStopped;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = Parse(argc, argv, options); status >= 0) {
        return status;
    }

    ConsoleFrontEnd console(options);
    UpdaterConfig config = BuiltUpdaterConfig();
    config.deltas = options.deltas;
    config.decodeAhead = options.decodeAhead;
    config.connections = options.connections;
    config.bundles = options.bundles;
    config.limitKbps = options.limitKbps;
    config.installCheck = options.installCheck;
    const auto cannotStart = [](const std::string& problem) {
        ConsoleFrontEnd::Show("Error!", problem);
    };
    return WithProgramServices(cannotStart, [&] {
        try {
            UpdateSession session(config, console);
            console.session = &session;
            return Drive(console, session, options);
        } catch (const std::exception& error) {
            console.ShowError(error.what());
        }
        return 0;
    });
}
