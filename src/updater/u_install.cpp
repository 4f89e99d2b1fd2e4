// Installing the received files: the old backups go, each replaced file is
// backed up, each container is decoded into its place in the game directory.
#include <filesystem>

#include "pack/pack.h"
#include "platform/process.h"
#include "shared/base/s_logging.h"
#include "updater/u_updater.h"

namespace fs = std::filesystem;
using updater::Text;

namespace {

// Decodes `source` into a temporary file beside `target` and puts it in
// place only when the whole file decoded, so a game file is always either
// the old one or the new one, never half of it.
bool DecodeInPlace(const std::string& source, const std::string& target) {
    const std::string temporary = target + ".brf-part";
    std::error_code error;
    if (CPack::Get()->DecodeFile(source.c_str(), temporary.c_str())) {
        fs::rename(temporary, target, error);
        if (!error) {
            return true;
        }
    }
    fs::remove(temporary, error);
    return false;
}

}  // namespace

void TFUpdater::InstallFiles() {
    std::error_code error;
    for (fs::directory_iterator it("patch/backup", error), end; !error && it != end;
         it.increment(error)) {
        const std::string path = "patch/backup/" + it->path().filename().string();
        BRF_LOG(2, "deleting backup file: %s", path.c_str());
        std::error_code ignored;
        if (!it->is_directory(ignored)) {
            fs::remove(path, ignored);
        }
    }

    BRF_LOG(1, "Copy all files int the needed directories ...");
    AddLog(214);
    pnl_progress->SetPosition(pnl_progress->Max());
    SelectLastLine();

    for (int32_t k = 0; k < newCount; ++k) {
        const std::string& name = downloadList.at(2 * static_cast<size_t>(k));
        if (name == kUpdaterContainer) {
            continue;
        }
        const std::string source = "patch/" + name;
        const std::string backup = "patch/backup/" + name.substr(0, name.size() - 4);
        const std::string target = updater::TargetOfListedFile(name);

        BRF_LOG(1, "backup: %s -> %s", target.c_str(), backup.c_str());
        std::error_code ignored;
        fs::copy_file(target, backup, fs::copy_options::overwrite_existing, ignored);

        BRF_LOG(1, "copy  : %s -> %s", source.c_str(), target.c_str());
        if (!DecodeInPlace(source, target)) {
            BRF_LOG(0, "Decode error: %s, %s", source.c_str(), target.c_str());
            AddLog(203);
            AddLog(204);
            SelectLastLine();
            btn_check->SetEnabled(true);
            return;
        }
    }

    BRF_LOG(1, "finished copying of all files ...");
    AddLog(219);
    SelectLastLine();
    btn_check->SetCaption(Text(217));
    btn_check->SetEnabled(true);
    runState = rsReady;

    if (toolkit_.MessageBox(Text(249), Text(248), plat::kMbYesNo, plat::BoxOwner::FocusWindow) ==
        plat::kIdYes) {
        plat::StartCommand(plat::TextEditorCommand(), {Text(250)});
    }
    RefreshVersionAndCaptions();
}
