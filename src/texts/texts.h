// The table of user texts in German and English. Every message box, caption
// and action-log line the updater shows is a text id looked up here in the
// current language; log lines are never localized and do not come from here.
#pragma once

#include <cstdint>

inline constexpr int32_t kLanguageGerman = 0;
inline constexpr int32_t kLanguageEnglish = 1;

// The updater's texts by name; each value is the entry's id in the table.
enum TextId : uint32_t {
    kTextErrorCaption = 2,
    kTextRegistryFailureCaption = 33,
    kTextNoClientVersion = 34,
    kTextNoInstallDir = 37,
    kTextNoRegistryInfo = 41,
    kTextAttentionCaption = 101,
    kTextActionLogLabel = 200,
    kTextPressCheck = 201,
    kTextCheckingVersion = 202,
    kTextDownloadError = 203,
    kTextTryAgain = 204,
    kTextNoNewFiles = 205,
    kTextClientUpToDate = 206,
    kTextNewFilesFound = 207,
    kTextOverallLength = 208,
    kTextUnitBytes = 209,
    kTextUnitKBytes = 210,
    kTextUnitMBytes = 211,
    kTextReceivingFile = 212,
    kTextUnexpectedException = 213,
    kTextInstalling = 214,
    kTextFileAlreadyThere = 215,
    kTextFileReceived = 216,
    kTextStartGame = 217,
    kTextServerLabel = 218,
    kTextUpdateFinished = 219,
    kTextNoVersionIndex = 220,
    kTextVisitWebsites = 221,
    kTextCheckVersion = 225,
    kTextAutoUpdate = 226,
    kTextFileCorrupted = 227,
    kTextReceivingDocument = 228,
    kTextDocumentLoaded = 229,
    kTextNoSection = 232,
    kTextIndexBroken = 233,
    kTextDownloadingUpdater = 234,
    kTextUpdaterDownloaded = 235,
    kTextWindowTitle = 236,
    kTextUpdateSizeLabel = 237,
    kTextNoUpdater = 238,
    kTextUpdaterInfo = 239,
    kTextCancelled = 240,
    kTextCannotCopyUpdater = 241,
    kTextOptions = 242,
    kTextConnectionFailed = 243,
    kTextNoSetupProgram = 244,
    kTextLoadingServerList = 245,
    kTextNoServerList = 246,
    kTextMaintenance = 247,
    kTextUpdateFinishedCaption = 248,
    kTextReadPatchNotes = 249,
    kTextPatchNotesFile = 250,
    kTextClose = 251,
    kTextDownloadAgain = 252,
    kTextClientTooOld = 253,
    kTextUpdateSize = 254,
    kTextUpdaterTooOld = 255,
};

// The process-wide language, set at start-up and again after the options
// program has changed it. Starts as German.
extern int32_t CurrentLanguage;

// The text `id` in `language` (0 German, 1 English): a constant NUL-terminated
// string in the Windows-1252 code page, never to be freed or modified. An id
// without text, or above 255, gives the language's fallback text; any other
// language gives nullptr, which callers show as an empty text.
const char* GetText(int32_t language, uint32_t id);
