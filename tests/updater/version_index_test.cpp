// The version decision over the example index and the edge cases of the
// header, the comparisons and the section key; the walk of a section; the
// helpers whose exact rules users see (size display, time comparison).
#include <gtest/gtest.h>

#include <filesystem>

#include "updater_fixture.h"

namespace {

using updater_test::GameDir;
using updater_test::T;
using Lines = std::vector<std::string>;

// The example index, one entry per line, with a comment before the header.
const char kExampleIndex[] =
    "# index of 2004-09-20\n1490\n1480\n1060\n0\n1030\n0\n"
    "[1030.0]\ndata-all.pak.upd\n640;2004-09-10 12:00:00\n{1030.0}\n"
    "[1040.0]\ndata-maps\n0\ndata-maps-north.map.upd\n18211;2004-09-18 21:05:33\n"
    "[1050.0]\nBRFClient.exe.upd\n912;2004-09-19 10:00:00\n\n";

struct Decision {
    const char* name;
    std::string index;
    uint32_t version, build;
    int32_t result;
    RunState state;  // the run's state afterwards
    Lines log;       // action-log lines added by the check
    Lines boxes;     // message boxes shown
    Lines files;     // download list names when the result is 1
};

const std::string kHeader = "1490\n1480\n1050\n3\n1000\n1\n";

std::vector<Decision> Decisions() {
    return {
        {"client 1.030.0 gets one file",
         kExampleIndex,
         1030,
         0,
         1,
         RunState::VersionIndex,
         {},
         {},
         {"data-all.pak.upd"}},
        {"client 1.040.0 runs on through 1.050.0",
         kExampleIndex,
         1040,
         0,
         1,
         RunState::VersionIndex,
         {},
         {},
         {"data-maps-north.map.upd", "BRFClient.exe.upd"}},
        {"client 1.050.0",
         kExampleIndex,
         1050,
         0,
         1,
         RunState::VersionIndex,
         {},
         {},
         {"BRFClient.exe.upd"}},
        {"client 1.060.7 is current",
         kExampleIndex,
         1060,
         7,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
        {"client 1.020.0 is too old",
         kExampleIndex,
         1020,
         0,
         0,
         RunState::VersionIndex,
         {T(253)},
         {T(253)},
         {}},
        {"client 1.045.0 has no section",
         kExampleIndex,
         1045,
         0,
         0,
         RunState::VersionIndex,
         {T(232)},
         {T(232)},
         {}},
        {"only comments", "#a\n#b\n", 1040, 0, -1, RunState::VersionIndex, {T(233)}, {T(233)}, {}},
        {"three lines fail at line 4 without text 233",
         "1490\n1480\n1060\n",
         1040,
         0,
         -1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"five lines fail at line 6",
         "1490\n1480\n1060\n0\n1030\n",
         1040,
         0,
         -1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"a header value that is no integer",
         "1490\n1480\n10x0\n0\n1030\n0\n",
         1040,
         0,
         -1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"blanks before a header value are accepted",
         "  1490\n1480\n 1040\n0\n1030\n0\n",
         1040,
         0,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
        {"a newer updater than listed goes on",
         "1489\n1480\n1040\n0\n1030\n0\n",
         1040,
         0,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
        {"an updater below the minimum",
         "1490\n1491\n1040\n0\n1030\n0\n",
         1040,
         0,
         0,
         RunState::VersionIndex,
         {T(255)},
         {T(255)},
         {}},
        {"an old updater is replaced, the minimum unread",
         "1491\n9999\n1060\n",
         1040,
         0,
         -2,
         RunState::UpdaterDownload,
         {T(234)},
         {},
         {}},
        {"same build is current", kHeader, 1050, 3, 0, RunState::Ready, {T(205), T(206)}, {}, {}},
        {"a lower build is not",
         kHeader + "[1050.2]\n\n",
         1050,
         2,
         1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"the version decides before the build",
         "1490\n1480\n1050\n9\n1000\n0\n",
         1051,
         0,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
        {"below the minimum build is too old",
         kHeader,
         1000,
         0,
         0,
         RunState::VersionIndex,
         {T(253)},
         {T(253)},
         {}},
        {"the minimum build itself is patchable",
         kHeader + "[1000.1]\n",
         1000,
         1,
         1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"the key is zero-padded and exact",
         "1490\n1480\n1050\n0\n900\n0\n[950.3]\n[0950.3] \n#x\n [0950.3]\n[0950.3]\n",
         950,
         3,
         1,
         RunState::VersionIndex,
         {},
         {},
         {}},
        {"a comment between header lines does not shift them",
         "1490\n#x\n1480\n#y\n1040\n0\n1030\n0\n",
         1040,
         0,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
        {"CR, CR LF and a zero byte end lines and text",
         std::string("1490\r1480\r\n1040\n0\r\n1030\n0") + std::string(1, '\0') + "junk",
         1040,
         0,
         0,
         RunState::Ready,
         {T(205), T(206)},
         {},
         {}},
    };
}

// The check's outcome as the table writes it.
int32_t Code(UpdateSession::IndexCheck check) {
    switch (check) {
        case UpdateSession::IndexCheck::NewUpdater:
            return -2;
        case UpdateSession::IndexCheck::Unusable:
            return -1;
        case UpdateSession::IndexCheck::Ended:
            return 0;
        case UpdateSession::IndexCheck::Patch:
            return 1;
    }
    return 99;
}

class VersionDecision : public ::testing::TestWithParam<Decision> {};

TEST_P(VersionDecision, DecidesAndReportsAsListed) {
    const Decision& d = GetParam();
    GameDir game;
    brf_test::WriteFile("patch/_versions.txt", d.index);
    TFUpdater& window = *game.updater;
    UpdateSession& u = window.Session();
    u.clientVersion = d.version;
    u.clientBuild = d.build;
    u.EnterState(RunState::VersionIndex);
    window.btn_check->SetEnabled(false);
    const size_t before = game.Log().size();

    const int32_t result = Code(u.CheckVersionIndex());

    EXPECT_EQ(result, d.result);
    EXPECT_EQ(u.State(), d.state);
    EXPECT_EQ(Lines(game.Log().begin() + static_cast<long>(before), game.Log().end()), d.log);
    EXPECT_EQ(game.Boxes(), d.boxes);
    // Every outcome that ends the run here leaves the button usable; a
    // found section and the updater download keep it disabled.
    EXPECT_EQ(window.btn_check->Enabled(), result == 0 || (result == -1 && !d.boxes.empty()));
    if (d.state == RunState::Ready) {
        EXPECT_EQ(window.btn_check->Caption(), T(217));
    }
    if (result == 1) {
        EXPECT_EQ(u.versionIndex.lines.at(static_cast<size_t>(u.sectionStart)),
                  version_index::SectionKey(d.version, d.build));
        if (!d.files.empty()) {
            u.PrepareDownloadList();
            Lines names;
            for (const version_index::ListEntry& entry : u.downloadList) {
                names.push_back(entry.name);
            }
            EXPECT_EQ(names, d.files);
            EXPECT_EQ(u.newCount, static_cast<int32_t>(d.files.size()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Index, VersionDecision, ::testing::ValuesIn(Decisions()),
                         [](const auto& info) {
                             std::string name;
                             for (const char c : std::string(info.param.name)) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

// The walk of one section: what becomes a directory, a file, or a fault.
TEST(DownloadList, SectionEntriesBecomeDirectoriesFilesOrFaults) {
    struct Case {
        const char* section;  // lines after "[1040.0]"
        Lines files;
        int32_t total;
        const char* directory;  // made by the walk, or null
        bool fault;
    } cases[] = {
        {"\n", {}, 0, nullptr, false},
        {"data-maps\n0\n", {}, 0, "data/maps", false},
        {"data-maps.upd\n00\n", {"data-maps.upd"}, 0, nullptr, false},
        {"data-maps\n00\n", {}, 0, nullptr, true},  // its target "data/" names no file
        {"a.upd\n0;2004-09-18 21:05:33\n", {"a.upd"}, 0, nullptr, false},
        {"a.upd\n10\n{0999.0}\nb.upd\n20;x\n{1040.0}\nc.upd\n30\n",
         {"a.upd", "b.upd"},
         30,
         nullptr,
         false},
        // Past 2 GiB the bar's maximum stays at its largest value.
        {"a.upd\n2000000000\nb.upd\n2000000000\n", {"a.upd", "b.upd"}, INT32_MAX, nullptr, false},
        {"a.upd\n", {}, 0, nullptr, true},
        {"a.upd\n12x\n", {}, 0, nullptr, true},
    };
    for (const Case& c : cases) {
        GameDir game;
        TFUpdater& window = *game.updater;
        UpdateSession& u = window.Session();
        u.clientVersion = 1040;
        u.versionIndex = version_index::ReadIndex(std::string("[1040.0]\n") + c.section);
        u.sectionStart = 0;
        std::filesystem::create_directory("data");
        if (c.fault) {
            EXPECT_THROW(u.PrepareDownloadList(), EIndexError) << c.section;
            continue;
        }
        u.PrepareDownloadList();
        Lines names;
        for (const version_index::ListEntry& entry : u.downloadList) {
            names.push_back(entry.name);
        }
        EXPECT_EQ(names, c.files) << c.section;
        EXPECT_EQ(window.pnl_progress->Max(), c.total) << c.section;
        if (c.directory) {
            EXPECT_TRUE(std::filesystem::is_directory(c.directory)) << c.section;
        }
    }
}

TEST(DownloadList, NamesThatWouldLeaveTheGameDirectoryAreRefused) {
    for (const std::string entry :
         {"..-x.upd\n5\n", "-abs.upd\n5\n", "C:-x.upd\n5\n", "a\\b.upd\n5\n", "a--b.upd\n5\n",
          ".-x.upd\n5\n", "a/../b.upd\n5\n", "..\n0\n", "x-..\n0\n", "-tmp\n0\n", ".upd\n5\n"}) {
        EXPECT_THROW(version_index::TargetOfListedFile(entry.substr(0, entry.find('\n'))),
                     EIndexError)
            << entry;
    }
    EXPECT_EQ(version_index::TargetOfListedFile("data-maps-north.map.upd"), "data/maps/north.map");
    EXPECT_EQ(version_index::SafeGamePath("data-maps", "\\"), "data\\maps");
}

TEST(SizeDisplay, SwitchesUnitsJustPastEachBoundary) {
    const struct {
        int32_t bytes;
        double value;
        uint32_t unit;
    } cases[] = {{0, 0, 209},
                 {1024, 1024, 209},
                 {1025, 1025 / 1024.0, 210},
                 {1048576, 1024, 210},
                 {1048577, 1048577 / 1048576.0, 211}};
    for (const auto& c : cases) {
        const updater::SizeDisplay d = updater::SizeForDisplay(c.bytes);
        EXPECT_DOUBLE_EQ(d.value, c.value) << c.bytes;
        EXPECT_EQ(d.unitText, c.unit) << c.bytes;
    }
}

TEST(SameFileTest, ComparesTimeStampsAsTextAndEqualIsNotNewer) {
    EXPECT_TRUE(updater::LocalTimeIsNewer("2004-09-18 21:05:34", "2004-09-18 21:05:33"));
    EXPECT_FALSE(updater::LocalTimeIsNewer("2004-09-18 21:05:34", "2004-09-18 21:05:34"));
    EXPECT_FALSE(updater::LocalTimeIsNewer("2026-01-01 00:00:00", "9999"));
    EXPECT_TRUE(updater::LocalTimeIsNewer("\xE4", "z"));  // bytes compare unsigned
}

}  // namespace
