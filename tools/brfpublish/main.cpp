// brfpublish: the operators' publisher. Builds what an update server serves
// from release trees, and checks a server directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "brfpublish/publish.h"
#include "brfpublish/roots.h"
#include "brfpublish/signing.h"
#include "brfpublish/verify.h"
#include "index/game_files.h"
#include "index/signed_index.h"
#include "index/version_index.h"
#include "platform/clock.h"
#include "shared/base/s_text.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: brfpublish build --out DIR --release TREE VERSION BUILD\n"
    "                        [--from TREE VERSION BUILD]... --servers FILE\n"
    "                        [--min VERSION BUILD] [--updater PROGRAM VERSION MIN]\n"
    "                        [--updater-version VERSION MIN] [--time \"yyyy-mm-dd hh:mm:ss\"]\n"
    "                        [--mode optimal|lazy|greedy] [--no-deltas] [--no-bundles]\n"
    "                        [--no-repair-set] [--mutable PATTERN]... [--quiet]\n"
    "                        [--key SECRETFILE]... [--legacy-key SECRETFILE]\n"
    "                        [--retire-legacy-key] [--serial N] [--expires-in DAYS]\n"
    "                        [--expires \"yyyy-mm-dd hh:mm:ss\"]\n"
    "       brfpublish resign DIR --key SECRETFILE... [--legacy-key SECRETFILE]\n"
    "                        [--retire-legacy-key] [--serial N] [--expires-in DAYS]\n"
    "       brfpublish root init DIR --root-key SECRETFILE... [--add-root PUBLICFILE]...\n"
    "                        --add-index PUBLICFILE... [--threshold N]\n"
    "                        [--index-threshold N] [--expires-in DAYS]\n"
    "       brfpublish root next DIR --root-key SECRETFILE... [--add-root PUBLICFILE]...\n"
    "                        [--remove-root PUBLICFILE]... [--add-index PUBLICFILE]...\n"
    "                        [--remove-index PUBLICFILE]... [--threshold N]\n"
    "                        [--index-threshold N] [--expires-in DAYS]\n"
    "       brfpublish verify [--public-key PUBLICFILE] [--root-public PUBLICFILE]...\n"
    "                        [--root-threshold N] [--from TREE]... DIR\n"
    "       brfpublish keygen --secret SECRETFILE --public PUBLICFILE\n"
    "\n"
    "build  writes DIR/patch/, everything an update server serves below its base\n"
    "       address, so that clients of every --from release are brought to the\n"
    "       --release tree:\n"
    "         _versions.txt   the version index: the updater versions, the release,\n"
    "                         the minimum, and a section per earlier release that\n"
    "                         lists the directories and files it lacks or has with\n"
    "                         other bytes (nested sections where one release needs\n"
    "                         all that another needs, so every entry is written once)\n"
    "         _servers.dat    a copy of --servers FILE\n"
    "         NAME.upd        a patch container per file of the release (with\n"
    "                         --no-repair-set per changed or new file), named by\n"
    "                         its path with \"-\" for \"/\" (data/maps/north.map is\n"
    "                         data-maps-north.map.upd)\n"
    "         updater.exe.upd the --updater PROGRAM, when given\n"
    "       Versions are counted in thousandths (1050 is 1.050); builds are plain\n"
    "       numbers. --min is the oldest client that can still be patched (default:\n"
    "       the oldest --from). --updater gives the next updater program with its\n"
    "       version and the minimum updater version (index lines 1 and 2); without\n"
    "       it, both are %d or what --updater-version says, which may not exceed\n"
    "       %d, as no updater would be there to fetch.\n"
    "       Files of an earlier release that the new one lacks are left alone (the\n"
    "       updater deletes nothing). A file \"updater.exe\" at the top of the tree\n"
    "       is not published as a game file. Names the index cannot carry are\n"
    "       refused, naming the file: a \"-\" in a file or directory name, names\n"
    "       beginning with \"#\", \"[\" or \"{\", characters outside printable ASCII or\n"
    "       that Windows refuses (\\ : * ? \" < > |), names ending in a dot or blank,\n"
    "       names that differ only in case; so are links and other special files,\n"
    "       empty files that would have to be sent (the updater installs no empty\n"
    "       file), and a path that is a file in one release and a directory in\n"
    "       another. Nothing is left behind on failure: the directory is built\n"
    "       beside DIR and replaces DIR/patch only once it is complete and passed\n"
    "       the checks of verify.\n"
    "       --time is the publication time written into every file entry (default:\n"
    "       now, local time). A copy a client received earlier counts as the same\n"
    "       file only when its receipt time is later, so give the time the content\n"
    "       goes live, or a later one (that costs at most a download again), never\n"
    "       an earlier one. Containers carry the source files' modification times,\n"
    "       which the installed files receive. The same trees, options and --time\n"
    "       give the same bytes.\n"
    "       --mode chooses the encoder's parsing (optimal: smallest, default).\n"
    "       Deltas (docs/deltas.md): for each changed file and each --from release\n"
    "       whose copy of it differs, a binary delta from that copy to the new\n"
    "       file, NAME.<16 hex digits>.dl2 (the compact format), kept where it is\n"
    "       at most 4/5 of the container and announced in a \"#delta2\" line of\n"
    "       the index (which every updater removes with the comments; updaters\n"
    "       that know the format fetch one instead of the container when the\n"
    "       installed file is its source). --no-deltas makes none.\n"
    "       Bundles (docs/bundles.md): for each --from release whose section lists\n"
    "       files, _bundle.VVVV.B.bdl holds everything its clients fetch, one file\n"
    "       after another in the order of their download list (the delta where\n"
    "       the release's own copy is its source, else the container), so that\n"
    "       an updater can fetch it with one request. \"#bundle\" and\n"
    "       \"#bundle-member\" lines announce each bundle and where each file lies\n"
    "       in it; updaters that know no bundles remove them with the comments.\n"
    "       --no-bundles makes none.\n"
    "       Manifest and repair set (docs/repair.md): \"#manifest\" lines list every\n"
    "       file of the release (not directories, not updater.exe) with its size\n"
    "       and SHA-256 and the container that holds it, so that an updater can\n"
    "       verify an install and repair what differs; updaters without them remove\n"
    "       them with the comments. Every file that is not empty gets a container,\n"
    "       changed or not (the repair set). --no-repair-set packs only the changed\n"
    "       files: the lines of the others say \"0 -\" (no container), as those of\n"
    "       empty files always do. --mutable PATTERN (repeatable) names files that\n"
    "       players change themselves, such as settings: they are neither listed\n"
    "       nor packed for repair, but still sent where they changed. In a\n"
    "       pattern \"*\" stands for any run of characters but \"/\", \"**\" for any\n"
    "       run, \"?\" for one character; case does not count\n"
    "       (--mutable \"config.ini\" --mutable \"save/**\").\n"
    "       Progress (files and bytes packed) goes to stderr; --quiet hides it.\n"
    "       --key signs the index (docs/signed-index.md): signature lines listing\n"
    "       the size and SHA-256 of every served file, a serial, the time it was\n"
    "       signed and its expiry (UTC; --expires-in DAYS after signing, default\n"
    "       30, or --expires), and Ed25519 signatures over all of it. Without root\n"
    "       documents in DIR/patch one --key signs for updaters built with its\n"
    "       public key (BRF_UPDATE_PUBLIC_KEY). With them the keys sign \"#trust-\"\n"
    "       lines under the newest root and must be index keys it allows, as many\n"
    "       as its threshold; --legacy-key also signs for updaters built with one\n"
    "       key, and an index that replaces one signed for them needs it or\n"
    "       --retire-legacy-key. The root documents stay in DIR/patch. The serial\n"
    "       defaults to the serial of the DIR/patch being replaced plus one; a\n"
    "       given one must be above it. Updaters without a key read a signed index\n"
    "       as before. A signed build also writes DIR/installer/save/, the files an\n"
    "       installer ships in the game's save/ so that a fresh install starts from\n"
    "       this publication's serial and root.\n"
    "\n"
    "resign renews the signature lines of DIR/patch/_versions.txt (serial and\n"
    "       expiry, signed now) without rebuilding anything, for a timer job that\n"
    "       keeps a publication from expiring; the keys as for build. Every file\n"
    "       the old lines list must still have the listed bytes. The index is\n"
    "       replaced at once, and put back if the directory then fails verify.\n"
    "\n"
    "root init writes root document 1, DIR/patch/_root.1.txt: the root keys are\n"
    "       those of the --root-key secret keys that sign it and the --add-root\n"
    "       public keys, --threshold of them (default 1) must sign the next root;\n"
    "       the --add-index keys may sign the index, --index-threshold of them\n"
    "       (default 1) must. Updaters are built with the root public keys\n"
    "       (cmake -DBRF_ROOT_KEYS=\"KEY1;KEY2\" -DBRF_ROOT_THRESHOLD=N). It expires\n"
    "       --expires-in DAYS from now (default 365).\n"
    "root next writes root N+1 from root N with keys added and removed: rotate\n"
    "       the index key (--add-index the new one, later --remove-index the old),\n"
    "       revoke a stolen one (--remove-index), replace root keys (--add-root,\n"
    "       --remove-root, --threshold), or renew the expiry alone. It must be\n"
    "       signed (--root-key) by a threshold of root N's keys and a threshold of\n"
    "       its own; anything else is refused and nothing is written. Sign the\n"
    "       index under the new root with resign or build.\n"
    "\n"
    "verify checks DIR/patch (or DIR itself when it holds _versions.txt): the six\n"
    "       integer header lines and line 1 >= line 2; updater.exe.upd present and\n"
    "       intact when line 1 exceeds %d; _servers.dat present without \"HTML\" in\n"
    "       its first line; every section walked as the updater walks it: entries\n"
    "       complete, names safe, no target listed twice, directories before what\n"
    "       lies in them, time stamps well formed, every listed container present,\n"
    "       of the listed size and passing the container check. Prints each\n"
    "       problem on its own line. Signature lines, when present, must list\n"
    "       every served file with its size and SHA-256 and must not have expired;\n"
    "       with --public-key the index must be signed with that key. Root\n"
    "       documents must be root 1 to N, each signed as updaters require (root\n"
    "       1 by a threshold of the --root-public keys, else of its own), the\n"
    "       newest not expired, and the index signed under it. Every\n"
    "       announced delta must be served with its size and SHA-256 and make the\n"
    "       file its container holds; with --from, deltas whose source file is in\n"
    "       one of the trees are applied to it and must make that file. Every\n"
    "       announced bundle must be served with its size and SHA-256, each\n"
    "       file's bytes in it must have that file's SHA-256 and be the file as\n"
    "       served alone, and its files must be those its section's walk lists,\n"
    "       in that order. Every manifest line must be readable; the container\n"
    "       a line names must be served with the listed size, pass the container\n"
    "       check and hold a file of the listed size, and a section entry for the\n"
    "       same file must name the same container with the same size.\n"
    "\n"
    "keygen writes a new key pair: the secret key (readable by its owner only;\n"
    "       an existing file is never overwritten) and the public key, which is\n"
    "       also printed. Updaters are built with the public key\n"
    "       (cmake -DBRF_UPDATE_PUBLIC_KEY=$(cat PUBLICFILE)).\n"
    "\n"
    "exit status: 0 success, 1 failure or problems found, 2 bad arguments\n";

int Usage(const std::string& problem) {
    std::fprintf(stderr, "brfpublish: %s\nTry 'brfpublish --help' for more information.\n",
                 problem.c_str());
    return kExitUsage;
}

bool ParseNumber(const char* text, uint32_t* value) {
    if (*text == '\0') {
        return false;
    }
    uint64_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (v > 0xFFFFFFFFu) {
            return false;
        }
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

bool ParseSigned(const char* text, int32_t* value) {
    uint32_t v = 0;
    if (!ParseNumber(text, &v) || v > 0x7FFFFFFF) {
        return false;
    }
    *value = static_cast<int32_t>(v);
    return true;
}

int Build(int argc, char** argv) {
    brfpublish::PublishOptions options;
    bool haveRelease = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto values = [&](int count) { return i + count < argc; };
        const auto release = [&](brfpublish::ReleaseSpec* spec, bool withTree) -> bool {
            const int count = withTree ? 3 : 2;
            if (!values(count)) {
                return false;
            }
            if (withTree) {
                spec->tree = argv[++i];
            }
            const bool ok =
                ParseNumber(argv[i + 1], &spec->version) && ParseNumber(argv[i + 2], &spec->build);
            i += 2;
            return ok;
        };
        if (arg == "--out" && values(1)) {
            options.out = argv[++i];
        } else if (arg == "--servers" && values(1)) {
            options.servers = argv[++i];
        } else if (arg == "--time" && values(1)) {
            options.time = argv[++i];
        } else if (arg == "--release") {
            if (!release(&options.release, true)) {
                return Usage(
                    "--release takes TREE VERSION BUILD (numbers, VERSION in thousandths)");
            }
            haveRelease = true;
        } else if (arg == "--from") {
            brfpublish::ReleaseSpec spec;
            if (!release(&spec, true)) {
                return Usage("--from takes TREE VERSION BUILD (numbers, VERSION in thousandths)");
            }
            options.earlier.push_back(spec);
        } else if (arg == "--min") {
            brfpublish::ReleaseSpec spec;
            if (!release(&spec, false)) {
                return Usage("--min takes VERSION BUILD (numbers, VERSION in thousandths)");
            }
            options.minimum = spec;
        } else if (arg == "--updater" || arg == "--updater-version") {
            const bool program = arg == "--updater";
            if (!values(program ? 3 : 2)) {
                return Usage(arg + (program ? " takes PROGRAM VERSION MIN" : " takes VERSION MIN"));
            }
            if (program) {
                options.updaterProgram = argv[++i];
            }
            if (!ParseSigned(argv[i + 1], &options.updaterVersion) ||
                !ParseSigned(argv[i + 2], &options.updaterMinimum)) {
                return Usage(arg + ": VERSION and MIN are whole numbers (1490, not 1.490)");
            }
            i += 2;
        } else if (arg == "--mode" && values(1)) {
            const std::string mode = argv[++i];
            if (!ParseModeNamed(mode, &options.mode)) {
                return Usage("unknown mode '" + mode + "'");
            }
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--no-deltas") {
            options.deltas = false;
        } else if (arg == "--no-bundles") {
            options.bundles = false;
        } else if (arg == "--no-repair-set") {
            options.repairSet = false;
        } else if (arg == "--mutable" && values(1)) {
            options.mutablePatterns.push_back(argv[++i]);
        } else if (arg == "--key" && values(1)) {
            options.secretKeyFiles.push_back(argv[++i]);
        } else if (arg == "--legacy-key" && values(1)) {
            options.legacyKeyFile = argv[++i];
        } else if (arg == "--retire-legacy-key") {
            options.retireLegacyKey = true;
        } else if (arg == "--expires-in" && values(1)) {
            uint32_t days = 0;
            if (!ParseNumber(argv[++i], &days) || days == 0 || days > 3650) {
                return Usage("--expires-in takes a number of days from 1 to 3650");
            }
            options.expires = signed_index::NowUtc() + static_cast<int64_t>(days) * 86400;
        } else if (arg == "--serial" && values(1)) {
            // Up to 18 digits: far more publications than anyone makes.
            const std::string text = argv[++i];
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                return Usage("--serial takes a whole number");
            }
            options.serial = std::stoull(text);
        } else if (arg == "--expires" && values(1)) {
            const std::string text = argv[++i];
            options.expires = signed_index::ParseUtc(text);
            if (!options.expires || text.find('T') != std::string::npos) {
                return Usage("--expires takes \"yyyy-mm-dd hh:mm:ss\" (UTC)");
            }
        } else {
            return Usage("unknown or incomplete option '" + arg + "'");
        }
    }
    if (options.out.empty() || !haveRelease || options.servers.empty()) {
        return Usage("build needs --out, --release and --servers");
    }
    if (options.time.empty()) {
        const plat::LocalTime now = plat::Now();
        options.time = base::Printf("%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
                                    now.hour, now.minute, now.second);
    }
    return brfpublish::Publish(options);
}

// The options resign and root share: keys, serial and expiry. Returns -1
// when they are fine, else the exit status.
struct KeyOptions {
    std::vector<std::string> keys;
    std::string legacyKey;
    bool retireLegacy = false;
    std::optional<uint64_t> serial;
    uint32_t expiresInDays = 0;
    brfpublish::RootChange root;
    std::string dir;
};

int ParseKeyOptions(int argc, char** argv, int first, bool forRoot, KeyOptions& options) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool value = i + 1 < argc;
        uint32_t number = 0;
        if (!forRoot && arg == "--key" && value) {
            options.keys.push_back(argv[++i]);
        } else if (!forRoot && arg == "--legacy-key" && value) {
            options.legacyKey = argv[++i];
        } else if (!forRoot && arg == "--retire-legacy-key") {
            options.retireLegacy = true;
        } else if (!forRoot && arg == "--serial" && value) {
            const std::string text = argv[++i];
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789") != std::string::npos) {
                return Usage("--serial takes a whole number");
            }
            options.serial = std::stoull(text);
        } else if (arg == "--expires-in" && value) {
            if (!ParseNumber(argv[++i], &number) || number == 0 || number > 3650) {
                return Usage("--expires-in takes a number of days from 1 to 3650");
            }
            options.expiresInDays = number;
        } else if (forRoot && arg == "--root-key" && value) {
            options.root.signKeyFiles.push_back(argv[++i]);
        } else if (forRoot && arg == "--add-root" && value) {
            options.root.addRoot.push_back(argv[++i]);
        } else if (forRoot && arg == "--remove-root" && value) {
            options.root.removeRoot.push_back(argv[++i]);
        } else if (forRoot && arg == "--add-index" && value) {
            options.root.addIndex.push_back(argv[++i]);
        } else if (forRoot && arg == "--remove-index" && value) {
            options.root.removeIndex.push_back(argv[++i]);
        } else if (forRoot && (arg == "--threshold" || arg == "--index-threshold") && value) {
            if (!ParseNumber(argv[++i], &number) || number == 0) {
                return Usage(arg + " takes a number from 1");
            }
            (arg == "--threshold" ? options.root.threshold : options.root.indexThreshold) = number;
        } else if (arg.rfind("--", 0) != 0 && options.dir.empty()) {
            options.dir = arg;
        } else {
            return Usage("unknown or incomplete option '" + arg + "'");
        }
    }
    if (options.dir.empty()) {
        return Usage("a DIR is needed");
    }
    return -1;
}

int Resign(int argc, char** argv) {
    KeyOptions options;
    if (const int status = ParseKeyOptions(argc, argv, 2, false, options); status >= 0) {
        return status;
    }
    if (options.keys.empty()) {
        return Usage("resign needs --key");
    }
    const int64_t expires =
        signed_index::NowUtc() +
        static_cast<int64_t>(options.expiresInDays ? options.expiresInDays : 30) * 86400;
    return brfpublish::Resign(options.dir, options.keys, options.legacyKey, options.retireLegacy,
                              options.serial, expires);
}

int Root(int argc, char** argv) {
    const std::string what = argc > 2 ? argv[2] : "";
    if (what != "init" && what != "next") {
        return Usage("root takes init or next");
    }
    KeyOptions options;
    if (const int status = ParseKeyOptions(argc, argv, 3, true, options); status >= 0) {
        return status;
    }
    if (options.root.signKeyFiles.empty()) {
        return Usage("root " + what + " needs --root-key");
    }
    options.root.expires =
        signed_index::NowUtc() +
        static_cast<int64_t>(options.expiresInDays ? options.expiresInDays : 365) * 86400;
    return what == "init" ? brfpublish::RootInit(options.dir, options.root)
                          : brfpublish::RootNext(options.dir, options.root);
}

int Verify(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::string publicKey;
    std::vector<std::string> rootKeys;
    uint32_t rootThreshold = 1;
    std::map<std::string, std::string> sources;
    std::vector<std::string> rest;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--public-key" && i + 1 < argc) {
            std::string error;
            publicKey = brfpublish::LoadPublicKey(argv[++i], &error);
            if (publicKey.empty()) {
                std::fprintf(stderr, "brfpublish: %s\n", error.c_str());
                return kExitFailed;
            }
        } else if (arg == "--root-public" && i + 1 < argc) {
            std::string error;
            rootKeys.push_back(brfpublish::LoadPublicKey(argv[++i], &error));
            if (rootKeys.back().empty()) {
                std::fprintf(stderr, "brfpublish: %s\n", error.c_str());
                return kExitFailed;
            }
        } else if (arg == "--root-threshold" && i + 1 < argc) {
            if (!ParseNumber(argv[++i], &rootThreshold) || rootThreshold == 0) {
                return Usage("--root-threshold takes a number from 1");
            }
        } else if (arg == "--from" && i + 1 < argc) {
            const std::string tree = argv[++i];
            std::error_code ec;
            for (fs::recursive_directory_iterator it(tree, ec), end; !ec && it != end;
                 it.increment(ec)) {
                signed_index::ListedFile hashed;
                if (it->is_regular_file(ec) &&
                    signed_index::HashFile(it->path().string(), &hashed)) {
                    sources.emplace(hashed.sha256, it->path().string());
                }
            }
            if (ec) {
                std::fprintf(stderr, "brfpublish: cannot read the tree %s: %s\n", tree.c_str(),
                             ec.message().c_str());
                return kExitFailed;
            }
        } else {
            rest.push_back(arg);
        }
    }
    if (rest.size() != 1 || rest[0].rfind("--", 0) == 0) {
        return Usage(
            "verify takes [--public-key FILE], [--root-public FILE]..., "
            "[--root-threshold N], [--from TREE]... and one DIR");
    }
    std::error_code ec;
    fs::path dir = rest[0];
    if (!fs::exists(dir / game_files::kVersionIndex, ec) || fs::exists(dir / "patch", ec)) {
        dir /= "patch";
    }
    const std::vector<std::string> problems =
        brfpublish::VerifyPatchDir(dir.string(), publicKey, sources, rootKeys, rootThreshold);
    for (const std::string& problem : problems) {
        std::printf("%s\n", problem.c_str());
    }
    if (!problems.empty()) {
        std::fprintf(stderr, "brfpublish: %zu problem(s) in %s\n", problems.size(),
                     dir.string().c_str());
        return kExitFailed;
    }
    std::printf("%s: no problems\n", dir.string().c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage("a command is needed: build, resign, root, verify or keygen");
    }
    const std::string command = argv[1];
    // "brfpublish resign --help" helps as "brfpublish --help" does.
    bool help = command == "-h" || command == "help";
    for (int i = 1; i < argc; ++i) {
        help = help || std::string(argv[i]) == "--help";
    }
    if (help) {
        std::printf(kUsage, brfpublish::kUpdaterVersion, brfpublish::kUpdaterVersion,
                    brfpublish::kUpdaterVersion);
        return kExitOk;
    }
    if (command == "build") {
        return Build(argc, argv);
    }
    if (command == "verify") {
        return Verify(argc, argv);
    }
    if (command == "resign") {
        return Resign(argc, argv);
    }
    if (command == "root") {
        return Root(argc, argv);
    }
    if (command == "keygen") {
        if (argc != 6 || std::string(argv[2]) != "--secret" || std::string(argv[4]) != "--public") {
            return Usage("keygen takes --secret FILE --public FILE");
        }
        return brfpublish::KeyGen(argv[3], argv[5]);
    }
    return Usage("unknown command '" + command + "'");
}
