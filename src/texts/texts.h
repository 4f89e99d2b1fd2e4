// The table of user texts in German and English. Every message box, caption
// and action-log line the updater shows is a text id looked up here in the
// current language; log lines are never localized and do not come from here.
#pragma once

#include <cstdint>

inline constexpr int32_t kLanguageGerman = 0;
inline constexpr int32_t kLanguageEnglish = 1;

// The process-wide language, set at start-up and again after the options
// program has changed it. Starts as German.
extern int32_t CurrentLanguage;

// The text `id` in `language` (0 German, 1 English): a constant NUL-terminated
// string in the Windows-1252 code page, never to be freed or modified. An id
// without text, or above 255, gives the language's fallback text; any other
// language gives nullptr, which callers show as an empty text.
const char* GetText(int32_t language, uint32_t id);
