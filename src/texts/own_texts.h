// Texts of this updater that the shared table does not carry: what it tells
// the player about interrupted updates, full drives and files it may not
// change. German and English like the table, in Windows-1252, by name.
#pragma once

#include <cstdint>

enum class OwnText : uint32_t {
    // The install record of an update that did not finish was found.
    CompletingUpdate,
    // Its containers are not all there: the section is fetched again.
    RefetchingUpdate,
    // printf: the amount still needed, e.g. "312 MB".
    DriveFull,
    // printf: the game path, then the cause (one of the Cause texts).
    MayNotChange,
    CauseWriteProtected,
    CauseDirectoryInPlace,
    CauseOther,
    // The panel in the news page's place where no web browser control can
    // be had; the reason follows it.
    NewsPageUnavailable,
    // printf: the computer's date and the date the index was signed on,
    // both "yyyy-mm-dd".
    ClockWrong,
    // The index, or the root it was signed under, expired.
    ListExpired,
    // printf: the proxy, "host:port", that answered 407.
    ProxyLogin,
    // printf: the game path another program holds open; with HeldBy, then
    // the programs' names.
    WaitingForFile,
    WaitingForFileHeldBy,
    // A cause for MayNotChange. printf: the programs' names.
    CauseHeldBy,
    // The installed release against the manifest of the index: one file is
    // repaired, or (printf) that many.
    RepairingFile,
    RepairingFiles,
    RepairFinished,
    // printf: the game path of a file the server serves no container for.
    CannotRepair,
    // A verify: printf the game path of each file that differs; then the
    // number of files compared, or the number of those that differ and the
    // number compared.
    VerifyMissing,
    VerifyDiffers,
    VerifyIntact,
    VerifyDamaged,
    // printf: the installed release and the newest, "1.040.0".
    VerifyOlderRelease,
    // The index has no manifest lines.
    VerifyNoManifest,
};

// The text in `language` (0 German, 1 English); English for any other.
const char* GetOwnText(int32_t language, OwnText id);
