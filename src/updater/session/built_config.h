// The configuration a program's build settings give the engine. Only a
// program's main and the tests include it: their target carries the
// generated constants (brf_build_constants in CMake).
#pragma once

#include "updater/build_constants.h"
#include "updater/session/u_config.h"

inline UpdaterConfig BuiltUpdaterConfig() {
    UpdaterConfig config;
    config.updaterVersion = build_constants::kUpdaterVersion;
    config.publicKey = build_constants::kUpdatePublicKey;
    for (const char* key : build_constants::kRootKeys) {
        if (*key != '\0') {
            config.rootKeys.push_back(key);
        }
    }
    config.rootThreshold = build_constants::kRootThreshold;
    config.defaultServer = build_constants::kDefaultServer;
    config.webHost = build_constants::kWebHost;
    config.portalSite = build_constants::kPortalSite;
    return config;
}
