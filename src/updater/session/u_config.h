// What differs between builds of the updater, handed to the engine when the
// session is made: the program fills it from its build's constants
// (updater/session/built_config.h), a test from whatever it needs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a run that finds the client at the newest release does with the
// files the index's manifest lists: compares their sizes and repairs what
// is missing or has another size (every run), compares their contents and
// repairs what differs, or compares their contents and only reports (and
// then never changes anything, nor updates).
enum class InstallCheck { Sizes, Repair, Verify };

struct UpdaterConfig {
    // The updater's own version number, in thousandths.
    int32_t updaterVersion = 0;
    // 64 hex digits that every version index must be signed with; empty:
    // updates are not authenticated by one key.
    std::string publicKey;
    // The root keys (64 hex digits each) and how many of them must sign the
    // first root document; with any, every index must be signed under a
    // root that chains to them, and `publicKey` is not used.
    std::vector<std::string> rootKeys;
    uint32_t rootThreshold = 1;
    // The update server the server box offers.
    std::string defaultServer;
    // The game's web host, without a trailing slash: its news pages and its
    // home page.
    std::string webHost;
    // The partner portal's home page, which its logo opens.
    std::string portalSite;
    // Whether the index's delta lines are used: off, the updater fetches
    // every file whole, as one that knows no deltas.
    bool deltas = true;
    // Whether received containers are decoded on worker threads while the
    // download goes on; off, all of them are decoded in the install phase.
    // What the player and the log see is the same either way.
    bool decodeAhead = true;
    // Connections that fetch the files of the list ahead of their turn; 0
    // fetches each file at its turn, one after another.
    unsigned connections = 4;
    // Whether the index's bundle lines are used.
    bool bundles = true;
    // The cap on the update's transfer rate in kilobits per second (0: none);
    // none given: "updater_limit_kbps" of config.ini.
    std::optional<uint32_t> limitKbps;
    InstallCheck installCheck = InstallCheck::Sizes;
};
