// The configuration a program's build settings give the engine. Only a
// program's main and the tests include it: their target carries the
// generated constants (brf_build_constants in CMake).
#pragma once

#include "updater/build_constants.h"
#include "updater/session/u_config.h"

inline UpdaterConfig BuiltUpdaterConfig() {
    return {build_constants::kUpdaterVersion, build_constants::kUpdatePublicKey,
            build_constants::kDefaultServer, build_constants::kWebHost,
            build_constants::kPortalSite};
}
