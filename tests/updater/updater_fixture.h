// A game directory with the installation's registry values, the headless
// toolkit and the updater window made in it: the current directory for the
// fixture's lifetime.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "support/host_services.h"
#include "support/test_support.h"
#include "texts/texts.h"
#include "ui/headless/headless_toolkit.h"
#include "updater/session/built_config.h"
#include "updater/u_updater.h"

namespace updater_test {

inline std::string RegistryFile(uint32_t language, uint32_t version, uint32_t build) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Brinefall]\r\n"
                  "\"Language\"=dword:%08x\r\n\"InstallDir\"=\"C:\\\\Games\\\\Brinefall\"\r\n"
                  "\"Version\"=dword:%08x\r\n\"Build\"=dword:%08x\r\n",
                  language, version, build);
    return text;
}

class GameDir {
public:
    explicit GameDir(uint32_t version = 1040, uint32_t build = 0, uint32_t language = 1)
        : GameDir(RegistryFile(language, version, build), "") {}

    // A game directory whose registry hives hold these texts (empty: none),
    // with the window made in it once `prepare` has filled it.
    // A game directory of client 1.040.0 whose updater is built as `config`.
    explicit GameDir(UpdaterConfig config)
        : GameDir(RegistryFile(1, 1040, 0), "", nullptr, std::move(config)) {}

    GameDir(const std::string& currentUser, const std::string& localMachine,
            const std::function<void()>& prepare = nullptr,
            UpdaterConfig config = BuiltUpdaterConfig())
        : hkcu_("BRF_HKCU_FILE", dir_.File("user.reg")),
          hklm_("BRF_HKLM_FILE", dir_.File("system.reg")) {
        // A loop of its own, so a window closed by one test does not end the
        // next test's loop.
        plat::SetMainLoop(&loop_);
        toolkit.SetApplicationTitle("BRF-Updater");
        if (localMachine.empty()) {
            // The values every program started from here reads: a hive file
            // on POSIX, the registry itself under Wine.
            EXPECT_TRUE(brf_test::host::InstallRegistry(currentUser, dir_.File("user.reg")));
        } else {
            // Hives for both roots: POSIX only.
            brf_test::WriteFile(dir_.File("user.reg"), currentUser);
            brf_test::WriteFile(dir_.File("system.reg"), localMachine);
        }
        if (prepare) {
            prepare();
        }
        updater = std::make_unique<TFUpdater>(toolkit, std::move(config));
    }
    ~GameDir() { plat::SetMainLoop(nullptr); }

    std::string File(const std::string& name) const { return dir_.File(name); }

    // The action log, one text per line.
    const std::vector<std::string>& Log() const { return updater->box_log->Lines(); }
    // The texts of the boxes shown, in order.
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& box : toolkit.shown) {
            texts.push_back(box.text);
        }
        return texts;
    }

private:
    plat::EventLoop loop_;
    brf_test::TempDir dir_;
    brf_test::ScopedEnv hkcu_;
    brf_test::ScopedEnv hklm_;

public:
    ui::HeadlessToolkit toolkit;
    std::unique_ptr<TFUpdater> updater;
};

// The English text `id`.
inline std::string T(uint32_t id) {
    return GetText(kLanguageEnglish, id);
}

}  // namespace updater_test
