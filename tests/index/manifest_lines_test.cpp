// The manifest lines: a line is used only when its fields read and its path is
// safe and matches its container, each path once in any case; and patterns.
#include <gtest/gtest.h>

#include "index/manifest_lines.h"

namespace {

using namespace manifest_lines;

TEST(ManifestLines, OnlySafeWellFormedLinesAreReadAndPatternsMatchInAnyCase) {
    const std::string h = " " + std::string(64, 'a') + " ";
    const std::string sea = "#manifest 9" + h + "30 data-sea.map.upd data/sea.map\r\n";
    const struct {
        std::string lines;
        std::string read;  // the path read, "" for none
        size_t problems;
    } cases[] = {
        {sea, "data/sea.map", 0},
        {"#manifest 9" + h + "30 data-my map.upd data/my map", "data/my map", 0},
        {FormatManifestLine({0, h.substr(1, 64), 0, kNoContainer, "a b.txt"}), "a b.txt", 0},
        {"#manifest 9" + h + "30 ..-sea.upd ../sea", "", 1},
        {"#manifest 9" + h + "30 data-land.map.upd data/sea.map", "", 1},
        {"#manifest 09" + h + "30 data-sea.map.upd data/sea.map", "", 1},
        {"#manifest 9 " + std::string(63, 'a') + "A 30 data-sea.map.upd data/sea.map", "", 1},
        {sea + "#manifest 8" + h + "0 - Data/Sea.map", "data/sea.map", 1},
    };
    for (const auto& row : cases) {
        const Manifest read = ReadManifestLines(row.lines);
        EXPECT_EQ(read.files.empty() ? "" : read.files.begin()->first, row.read) << row.lines;
        EXPECT_EQ(read.problems.size(), row.problems) << row.lines;
    }
    const struct {
        const char* pattern;
        const char* path;
        bool matches;
    } patterns[] = {
        {"config.ini", "CONFIG.INI", true},
        {"config.ini", "save/config.ini", false},
        {"*.ini", "save/options.ini", false},
        {"save/**", "save/old/slot1.sav", true},
        {"**.sav", "save/old/slot1.sav", true},
        {"slot?.sav", "slot12.sav", false},
        {"a?b", "a/b", false},
    };
    for (const auto& row : patterns) {
        EXPECT_EQ(MatchesPattern(row.pattern, row.path), row.matches) << row.pattern;
    }
}

}  // namespace
