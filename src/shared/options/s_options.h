// The options record of the game, shared through "config.ini" with the game
// client and its configuration program. Every key is read and written back,
// including keys this program does not know, so the other programs' settings
// survive a save by the updater.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class COpt {
public:
    static constexpr int kBindingCount = 67;
    static constexpr int kPresentCount = 11;
    static constexpr const char* kFileName = "config.ini";

    static COpt* Get();
    static void Release();

    // Reads "config.ini" over the current values. False (values unchanged) if
    // the file cannot be opened.
    bool Load();
    // Reads the text of a "config.ini" over the current values, as Load
    // reads the file. False (not loaded) when it could not be taken in.
    bool LoadText(std::string_view text);
    // Rewrites "config.ini" from the record; does nothing before a load. The
    // file is replaced whole, so a failed save leaves the old file in place.
    void Save();
    // The text that Save writes, whether loaded or not.
    std::string SaveText();

    // Name of binding `index` as written in the file.
    static const char* BindingName(int index);

    // Lines of the last loaded file whose key is not known, each as
    // key "=" value, kept in the order read and written back as they were.
    std::vector<std::string> unknownLines;
    int32_t unknownLineCount = 0;
    uint8_t loaded = 0;

    // [VIDEO]
    int32_t api = 0;
    int32_t adapter = 0;
    int32_t device = 0;
    int32_t res_width = 1024;
    int32_t res_height = 768;
    int32_t res_depth = 32;
    int32_t res_freq = 60;
    int32_t dx_fullreset = 0;
    int32_t dx_vertexbuffer_size = 1024;
    int32_t dx_sw_vertexprocessing = 0;
    int32_t fps_limit = 0;
    int32_t fps_autoadjust = 0;
    int32_t windowed_mode = 0;
    int32_t window_transparency = 15;
    int32_t show_rain = 1;
    int32_t show_clouds = 1;
    int32_t show_animals = 1;
    int32_t show_shipwaves = 2;
    int32_t show_cannonsmoke = 2;
    char screenshot_format[128] = "bmp";
    int32_t background_rendering = 0;
    int32_t topmost_window = 0;

    // [AUDIO]
    int32_t ambiente_volume = 80;
    int32_t effects_volume = 100;
    int32_t music_volume = 60;
    int32_t enable_sounds = 1;
    int32_t global_sounds = 1;
    int32_t chat_sound = 1;

    // [INPUT]
    int32_t brf_mouse = 1;
    int32_t mouse_navigation = 0;
    uint16_t keypress_delay = 200;
    uint16_t keypress_repeat = 75;

    // [KEYS]: the number after the ";" and the one before it.
    uint16_t keySecond[kBindingCount];
    uint16_t keyFirst[kBindingCount];

    // [INGAME]
    int32_t last_character = -1;
    int32_t chat_rows = 8;
    int32_t chat_echo = 1;
    int32_t auto_chathistory = 1;
    int32_t small_chatfont = 0;
    int32_t auto_changechannel = 1;
    int32_t show_minimap = 3;
    int32_t show_quickbar = 1;
    int32_t show_fighthelp = 0;
    int32_t show_citynames = 1;
    int32_t show_newmsghint = 1;
    int32_t show_progresspoints = 0;
    int32_t show_chathistory = 1;
    int32_t show_coordinates = 1;
    int32_t show_enemynames = 0;
    int32_t show_enemymodes = 0;
    int32_t show_enemyflags = 1;
    int32_t show_playername_onsea = 0;
    int32_t show_playername_onlist = 0;
    int32_t colored_conditionbar = 1;
    int32_t flag_direction = 0;
    int32_t show_entermsg_buddies = 1;
    int32_t auto_target = 1;
    int32_t mapzoom_1x = 0;
    int32_t mapzoom_2x = 0;
    int32_t do_foodwarning = 1;
    int32_t foodwarning_time = 360;
    int32_t do_moralwarning = 1;
    int32_t moralwarning_time = -1;

    // [COMM]
    int32_t last_server = 0;
    char updater_proxyserver[128] = "";
    int32_t updater_proxyport = 0;

    // [MISC]
    int32_t do_first_setup = 1;
    int32_t language;  // German user languages 0, else 3
    char login[40] = "";
    int32_t save_password = 0;
    int32_t automate_updater = 0;
    int32_t dynamic_loader = 1;
    int32_t dynloader_task = 1;
    int32_t startload_ships = 1;
    int32_t startload_terrain = 1;
    int32_t startload_animals = 1;

    // [DEBUGG]
    char debug_logfile[128] = "_debugg.log";
    int32_t clear_logfile = 0;
    int32_t debug_loglevel = 2;
    int32_t debug_loglevelAI = -1;
    int32_t max_filesize = 2000000;
    int32_t throw_unknowncmd = 0;
    // The eleven keys below are written only when the last load read them.
    int32_t reserved = 0;
    int32_t disable_updater = 0;
    int32_t gfx_unpacked = 1;
    int32_t snd_unpacked = 1;
    float vertical_texel = 0.5f;
    float horizontal_texel = 0.5f;
    int32_t show_kiname_onlist = 0;
    int32_t no_savegame = 0;
    int32_t no_browser = 0;
    char test_user[40] = "";
    char test_pass[40] = "";

    uint8_t present[kPresentCount] = {};

    COpt(const COpt&) = delete;
    COpt& operator=(const COpt&) = delete;

private:
    COpt();
    void ApplyPair(const std::string& key, const std::string& value);
};
