#include "shared/options/s_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <unordered_map>

#include "platform/locale.h"
#include "shared/base/s_logging.h"

namespace {

enum Section { kVideo, kAudio, kInput, kKeys, kIngame, kComm, kMisc, kDebugg, kSectionCount };

constexpr const char* kSectionHeaders[kSectionCount] = {
    "[VIDEO]", "[AUDIO]", "[INPUT]", "[KEYS]", "[INGAME]", "[COMM]", "[MISC]", "[DEBUGG]"};

struct Binding {
    const char* name;
    uint16_t first;
    uint16_t second;
};

// The key bindings in file order with their defaults (first;second).
constexpr Binding kBindings[COpt::kBindingCount] = {
    {"key_turnleft", 0, 203},
    {"key_turnright", 0, 205},
    {"key_sailup", 0, 200},
    {"key_sailDown", 0, 208},
    {"key_mousenav", 0, 49},
    {"key_actionignore", 0, 2},
    {"key_actiontrade", 0, 3},
    {"key_actioncannon", 0, 4},
    {"key_actionboard", 0, 5},
    {"key_anchor", 0, 25},
    {"key_fireleft", 0, 44},
    {"key_fireright", 0, 45},
    {"key_ammostandard", 0, 30},
    {"key_ammoshatter", 0, 31},
    {"key_ammoexplosive", 0, 32},
    {"key_nexttarget", 0, 20},
    {"key_notarget", 0, 22},
    {"key_togglemap", 0, 50},
    {"key_playercoord", 0, 60},
    {"key_citynames", 0, 62},
    {"key_enemynames", 0, 63},
    {"key_enemymodes", 0, 64},
    {"key_shift1", 0, 42},
    {"key_shift2", 0, 29},
    {"key_nextwp", 0, 36},
    {"key_prevwp", 0, 37},
    {"key_nowp", 0, 38},
    {"key_togglequickbar", 0, 16},
    {"key_quickbar1", 0, 0},
    {"key_quickbar2", 0, 0},
    {"key_quickbar3", 0, 0},
    {"key_quickbar4", 0, 0},
    {"key_quickbar5", 0, 0},
    {"key_quickbar6", 0, 0},
    {"key_quickbar7", 0, 0},
    {"key_quickbar8", 0, 0},
    {"key_quickbar9", 0, 0},
    {"key_quickbar0", 0, 0},
    {"key_action", 0, 256},
    {"key_popup", 0, 257},
    {"key_enter1", 0, 28},
    {"key_enter2", 0, 156},
    {"key_chathistory", 0, 17},
    {"key_chatchannels", 1, 15},
    {"key_changeeditfield", 0, 15},
    {"key_panic", 0, 1},
    {"key_fps", 0, 59},
    {"key_screenshot", 0, 61},
    {"key_windowedmode", 0, 88},
    {"key_onlinehelp", 0, 35},
    {"key_draganddrop", 0, 56},
    {"key_qlogs", 0, 0},
    {"key_qmaps", 0, 0},
    {"key_qcrew", 0, 0},
    {"key_qships", 0, 0},
    {"key_qperson", 0, 0},
    {"key_qbuddies", 0, 0},
    {"key_qoptions", 0, 0},
    {"key_nextmessage", 0, 48},
    {"key_console", 0, 41},
    {"key_reserved1", 0, 0},
    {"key_reserved2", 0, 0},
    {"key_reserved3", 0, 0},
    {"key_fightstepleft", 0, 203},
    {"key_fightstepright", 0, 205},
    {"key_fightattack", 0, 256},
    {"key_fightdefend", 0, 257},
};

enum class Kind { Int, UInt16, Float, Text, Binding };

// One known key: where it is written and which field holds it.
struct Key {
    const char* name;
    Section section;
    Kind kind;
    int32_t COpt::*intField = nullptr;
    uint16_t COpt::*u16Field = nullptr;
    float COpt::*floatField = nullptr;
    char* (*textField)(COpt&) = nullptr;
    size_t textSize = 0;
    int binding = -1;
    int present = -1;  // index of the key's flag among the eleven, or -1
};

#define BRF_INT(section, field)                  \
    Key {                                        \
#field, section, Kind::Int, &COpt::field \
    }
#define BRF_U16(section, field)                              \
    Key {                                                    \
#field, section, Kind::UInt16, nullptr, &COpt::field \
    }
#define BRF_TEXT(section, field)                                           \
    Key {                                                                  \
#field, section, Kind::Text, nullptr, nullptr, nullptr,            \
            [](COpt & o) -> char* { return o.field; }, sizeof(COpt::field) \
    }
#define BRF_FLAGGED_INT(field, flag)                                                     \
    Key {                                                                                \
#field, kDebugg, Kind::Int, &COpt::field, nullptr, nullptr, nullptr, 0, -1, flag \
    }
#define BRF_FLAGGED_FLOAT(field, flag)                                                     \
    Key {                                                                                  \
#field, kDebugg, Kind::Float, nullptr, nullptr, &COpt::field, nullptr, 0, -1, flag \
    }
#define BRF_FLAGGED_TEXT(field, flag)                                                \
    Key {                                                                            \
#field, kDebugg, Kind::Text, nullptr, nullptr, nullptr,                      \
            [](COpt & o) -> char* { return o.field; }, sizeof(COpt::field), -1, flag \
    }

// Every known key in file order: sections in order, keys in order within them.
std::vector<Key> BuildKeys() {
    std::vector<Key> keys = {
        BRF_INT(kVideo, api),
        BRF_INT(kVideo, adapter),
        BRF_INT(kVideo, device),
        BRF_INT(kVideo, res_width),
        BRF_INT(kVideo, res_height),
        BRF_INT(kVideo, res_depth),
        BRF_INT(kVideo, res_freq),
        BRF_INT(kVideo, dx_fullreset),
        BRF_INT(kVideo, dx_vertexbuffer_size),
        BRF_INT(kVideo, dx_sw_vertexprocessing),
        BRF_INT(kVideo, fps_limit),
        BRF_INT(kVideo, fps_autoadjust),
        BRF_INT(kVideo, windowed_mode),
        BRF_INT(kVideo, window_transparency),
        BRF_INT(kVideo, show_rain),
        BRF_INT(kVideo, show_clouds),
        BRF_INT(kVideo, show_animals),
        BRF_INT(kVideo, show_shipwaves),
        BRF_INT(kVideo, show_cannonsmoke),
        BRF_TEXT(kVideo, screenshot_format),
        BRF_INT(kVideo, background_rendering),
        BRF_INT(kVideo, topmost_window),

        BRF_INT(kAudio, ambiente_volume),
        BRF_INT(kAudio, effects_volume),
        BRF_INT(kAudio, music_volume),
        BRF_INT(kAudio, enable_sounds),
        BRF_INT(kAudio, global_sounds),
        BRF_INT(kAudio, chat_sound),

        BRF_INT(kInput, brf_mouse),
        BRF_INT(kInput, mouse_navigation),
        BRF_U16(kInput, keypress_delay),
        BRF_U16(kInput, keypress_repeat),
    };
    for (int i = 0; i < COpt::kBindingCount; ++i) {
        Key binding{kBindings[i].name, kKeys, Kind::Binding};
        binding.binding = i;
        keys.push_back(binding);
    }
    const Key rest[] = {
        BRF_INT(kIngame, last_character),
        BRF_INT(kIngame, chat_rows),
        BRF_INT(kIngame, chat_echo),
        BRF_INT(kIngame, auto_chathistory),
        BRF_INT(kIngame, small_chatfont),
        BRF_INT(kIngame, auto_changechannel),
        BRF_INT(kIngame, show_minimap),
        BRF_INT(kIngame, show_quickbar),
        BRF_INT(kIngame, show_fighthelp),
        BRF_INT(kIngame, show_citynames),
        BRF_INT(kIngame, show_newmsghint),
        BRF_INT(kIngame, show_progresspoints),
        BRF_INT(kIngame, show_chathistory),
        BRF_INT(kIngame, show_coordinates),
        BRF_INT(kIngame, show_enemynames),
        BRF_INT(kIngame, show_enemymodes),
        BRF_INT(kIngame, show_enemyflags),
        BRF_INT(kIngame, show_playername_onsea),
        BRF_INT(kIngame, show_playername_onlist),
        BRF_INT(kIngame, colored_conditionbar),
        BRF_INT(kIngame, flag_direction),
        BRF_INT(kIngame, show_entermsg_buddies),
        BRF_INT(kIngame, auto_target),
        BRF_INT(kIngame, mapzoom_1x),
        BRF_INT(kIngame, mapzoom_2x),
        BRF_INT(kIngame, do_foodwarning),
        BRF_INT(kIngame, foodwarning_time),
        BRF_INT(kIngame, do_moralwarning),
        BRF_INT(kIngame, moralwarning_time),

        BRF_INT(kComm, last_server),
        BRF_TEXT(kComm, updater_proxyserver),
        BRF_INT(kComm, updater_proxyport),

        BRF_INT(kMisc, do_first_setup),
        BRF_INT(kMisc, language),
        BRF_TEXT(kMisc, login),
        BRF_INT(kMisc, save_password),
        BRF_INT(kMisc, automate_updater),
        BRF_INT(kMisc, dynamic_loader),
        BRF_INT(kMisc, dynloader_task),
        BRF_INT(kMisc, startload_ships),
        BRF_INT(kMisc, startload_terrain),
        BRF_INT(kMisc, startload_animals),

        BRF_TEXT(kDebugg, debug_logfile),
        BRF_INT(kDebugg, clear_logfile),
        BRF_INT(kDebugg, debug_loglevel),
        BRF_INT(kDebugg, debug_loglevelAI),
        BRF_INT(kDebugg, max_filesize),
        BRF_INT(kDebugg, throw_unknowncmd),
        BRF_FLAGGED_INT(reserved, 0),
        BRF_FLAGGED_INT(disable_updater, 1),
        BRF_FLAGGED_INT(gfx_unpacked, 2),
        BRF_FLAGGED_INT(snd_unpacked, 3),
        BRF_FLAGGED_FLOAT(vertical_texel, 4),
        BRF_FLAGGED_FLOAT(horizontal_texel, 5),
        BRF_FLAGGED_INT(show_kiname_onlist, 6),
        BRF_FLAGGED_INT(no_savegame, 7),
        BRF_FLAGGED_INT(no_browser, 8),
        BRF_FLAGGED_TEXT(test_user, 9),
        BRF_FLAGGED_TEXT(test_pass, 10),
    };
    keys.insert(keys.end(), std::begin(rest), std::end(rest));
    return keys;
}

#undef BRF_INT
#undef BRF_U16
#undef BRF_TEXT
#undef BRF_FLAGGED_INT
#undef BRF_FLAGGED_FLOAT
#undef BRF_FLAGGED_TEXT

const std::vector<Key>& Keys() {
    static const std::vector<Key> keys = BuildKeys();
    return keys;
}

// Longer than any known key's name.
constexpr size_t kNameBuffer = 32;

// `name` in lower case, in `buffer`; empty when it is longer than the
// buffer, and so no known name.
std::string_view Folded(std::string_view name, char (&buffer)[kNameBuffer]) {
    if (name.size() > kNameBuffer) {
        return {};
    }
    for (size_t i = 0; i < name.size(); ++i) {
        buffer[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    }
    return std::string_view(buffer, name.size());
}

// Names compare without regard to case. Every line of a file is looked up,
// so the keys are found through a table of their folded names.
const Key* FindKey(std::string_view name) {
    struct Table {
        std::vector<std::string> names;  // folded, in the order of Keys()
        std::unordered_map<std::string_view, const Key*> byName;
    };
    static const Table table = [] {
        Table t;
        char buffer[kNameBuffer];
        for (const Key& key : Keys()) {
            t.names.emplace_back(Folded(key.name, buffer));
        }
        // The names no longer move: the table can refer to them.
        for (size_t i = 0; i < t.names.size(); ++i) {
            t.byName.emplace(t.names[i], &Keys()[i]);
        }
        return t;
    }();
    char buffer[kNameBuffer];
    const std::string_view folded = Folded(name, buffer);
    if (folded.empty()) {
        return nullptr;
    }
    const auto found = table.byName.find(folded);
    return found != table.byName.end() ? found->second : nullptr;
}

// A signed decimal number: leading blanks, an optional sign, digits up to the
// first other character; no digits give 0. Out-of-range numbers are clamped.
int32_t ReadNumber(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

void CopyText(char* field, size_t size, const std::string& value) {
    std::memset(field, 0, size);
    std::memcpy(field, value.data(), std::min(value.size(), size - 1));
}

std::unique_ptr<COpt>& Instance() {
    static std::unique_ptr<COpt> instance;
    return instance;
}

// The line buffers of the reader hold 255 characters; a key or value that
// fills one ends the pair unapplied.
constexpr size_t kFieldLimit = 255;

}  // namespace

COpt* COpt::Get() {
    auto& instance = Instance();
    if (!instance) {
        instance.reset(new (std::nothrow) COpt());
    }
    return instance.get();
}

void COpt::Release() {
    Instance().reset();
}

const char* COpt::BindingName(int index) {
    return index >= 0 && index < kBindingCount ? kBindings[index].name : nullptr;
}

COpt::COpt() {
    for (int i = 0; i < kBindingCount; ++i) {
        keyFirst[i] = kBindings[i].first;
        keySecond[i] = kBindings[i].second;
    }
    switch (plat::UserDefaultLangId()) {
        case 0x0407:
        case 0x0807:
        case 0x0C07:
        case 0x1007:
        case 0x1407:
            language = 0;
            break;
        default:
            language = 3;
            break;
    }
}

void COpt::ApplyPair(const std::string& key, const std::string& value) {
    CLog::Get()->Write(9, __FILE__, __LINE__, "CALL FUNCTION at: %s, %i", __FILE__, __LINE__);
    const Key* known = FindKey(key);
    if (known == nullptr) {
        unknownLines.push_back(key + "=" + value);
        unknownLineCount = static_cast<int32_t>(unknownLines.size());
        return;
    }
    switch (known->kind) {
        case Kind::Int:
            this->*(known->intField) = ReadNumber(value.c_str());
            break;
        case Kind::UInt16:
            this->*(known->u16Field) = static_cast<uint16_t>(ReadNumber(value.c_str()));
            break;
        case Kind::Float:
            this->*(known->floatField) = static_cast<float>(std::strtod(value.c_str(), nullptr));
            break;
        case Kind::Text:
            CopyText(known->textField(*this), known->textSize, value);
            break;
        case Kind::Binding: {
            const size_t semicolon = value.find(';');
            if (semicolon == std::string::npos || semicolon == 0 || semicolon + 1 == value.size()) {
                break;
            }
            keyFirst[known->binding] =
                static_cast<uint16_t>(ReadNumber(value.substr(0, semicolon).c_str()));
            keySecond[known->binding] =
                static_cast<uint16_t>(ReadNumber(value.c_str() + semicolon + 1));
            break;
        }
    }
    if (known->present >= 0) {
        present[known->present] = 1;
    }
}

bool COpt::Load() {
    CLog::Get()->Write(9, __FILE__, __LINE__, "CALL FUNCTION at: %s, %i", __FILE__, __LINE__);
    std::fill(std::begin(present), std::end(present), 0);
    loaded = 0;

    FILE* file = std::fopen(kFileName, "rb");
    if (file == nullptr) {
        loaded = 1;
        return false;
    }
    std::string text;
    try {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            text.append(chunk, n);
        }
    } catch (...) {
        std::fclose(file);
        return false;
    }
    std::fclose(file);
    return LoadText(text);
}

bool COpt::LoadText(std::string_view text) {
    std::fill(std::begin(present), std::end(present), 0);
    loaded = 0;
    try {
        unknownLines.clear();
        unknownLineCount = 0;

        // Read as a text file: a carriage return before a line feed is not seen.
        std::string key;
        std::string value;
        bool inValue = false;
        auto applyPair = [&] {
            try {
                ApplyPair(key, value);
            } catch (...) {
                // A pair that cannot be applied is dropped; the load goes on.
            }
        };
        size_t i = 0;
        bool lineStart = true;
        while (i < text.size()) {
            if (lineStart) {
                lineStart = false;
                // A line of an unknown key belongs to another program: it is
                // kept whole, however long it is, and written back unchanged.
                size_t end = text.find('\n', i);
                if (end == std::string_view::npos) {
                    end = text.size();
                }
                size_t lineEnd = end;
                if (lineEnd > i && text[lineEnd - 1] == '\r') {
                    --lineEnd;
                }
                // Only this line is searched for the "=": a search through
                // the rest of the text at every line start made a file of
                // many lines without one take time growing with its square.
                const std::string_view line = text.substr(i, lineEnd - i);
                const size_t equals = line.find('=');
                if (equals != std::string_view::npos &&
                    FindKey(line.substr(0, equals)) == nullptr) {
                    unknownLines.emplace_back(line);
                    unknownLineCount = static_cast<int32_t>(unknownLines.size());
                    i = end + 1;
                    lineStart = true;
                    continue;
                }
            }
            char ch = text[i++];
            if (ch == '\r' && i < text.size() && text[i] == '\n') {
                continue;
            }
            if (ch == '\n' && inValue) {
                applyPair();
            }
            if (ch == '=' && !inValue) {
                inValue = true;
            } else {
                (inValue ? value : key) += ch;
            }
            if (ch == '\n' || key.size() >= kFieldLimit || value.size() >= kFieldLimit) {
                key.clear();
                value.clear();
                inValue = false;
                lineStart = ch == '\n';
            }
        }
        if (inValue) {
            applyPair();
        }
    } catch (...) {
        loaded = 0;
        return false;
    }

    loaded = 1;
    if (dx_vertexbuffer_size < 1) {
        dx_vertexbuffer_size = 1;
    }
    return true;
}

void COpt::Save() {
    CLog::Get()->Write(9, __FILE__, __LINE__, "CALL FUNCTION at: %s, %i", __FILE__, __LINE__);
    if (!loaded) {
        return;
    }
    BRF_LOG(1, "saving ini file");

    // The game client shares the file: it is written beside it and renamed
    // over it, so no reader ever sees a half-written file.
    const std::string temporary = std::string(kFileName) + ".tmp";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    bool ok = true;
    try {
        const std::string text = SaveText();
        ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    } catch (...) {
        ok = false;
    }
    ok = std::fclose(file) == 0 && ok;

    std::error_code error;
    if (ok) {
        std::filesystem::rename(temporary, kFileName, error);
    }
    if (!ok || error) {
        std::filesystem::remove(temporary, error);
        return;
    }
    BRF_LOG(1, "done saving ini file");
}

std::string COpt::SaveText() {
    // Every line is short: the longest name with the longest text or number
    // stays far below the 255 characters of the line buffer the other
    // programs read with, so the lines are put together without formatting.
    std::string text;
    auto line = [&text](const char* name, const std::string& value) {
        text.append(name);
        text += '=';
        text.append(value);
        text.append("\r\n");
    };

    int section = -1;
    for (const Key& key : Keys()) {
        if (key.section != section) {
            if (section >= 0) {
                text.append("\r\n");
            }
            section = key.section;
            text.append(kSectionHeaders[section]);
            text.append("\r\n");
        }
        if (key.present >= 0 && !present[key.present]) {
            continue;
        }
        switch (key.kind) {
            case Kind::Int:
                line(key.name, std::to_string(this->*(key.intField)));
                break;
            case Kind::UInt16:
                line(key.name, std::to_string(static_cast<unsigned>(this->*(key.u16Field))));
                break;
            case Kind::Float: {
                char number[64];
                const int n = std::snprintf(number, sizeof number, "%0.2f",
                                            static_cast<double>(this->*(key.floatField)));
                line(key.name, std::string(number, std::clamp(n, 0, 63)));
                break;
            }
            case Kind::Text:
                line(key.name, key.textField(*this));
                break;
            case Kind::Binding:
                line(key.name, std::to_string(static_cast<unsigned>(keyFirst[key.binding])) + ";" +
                                   std::to_string(static_cast<unsigned>(keySecond[key.binding])));
                break;
        }
    }
    text.append("\r\n");
    for (const std::string& unknown : unknownLines) {
        text.append(unknown);
        text.append("\r\n");
    }
    return text;
}
