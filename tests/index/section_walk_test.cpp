// The index library without a window: what it decides from the header and
// what the walk of a section finds, faults included, for the publisher's
// check as much as for the engine.
#include <gtest/gtest.h>

#include "index/delta_lines.h"
#include "index/version_index.h"

namespace {

using namespace version_index;

TEST(IndexDecision, HeaderAndVersionsGiveTheDecisionAndWhatWasRead) {
    const struct {
        const char* text;
        ClientVersion client;
        Decision decision;
        std::optional<int32_t> minimumUpdater;
        size_t sectionStart;
    } cases[] = {
        {"1490\n1480\n", {1040, 0}, Decision::TooShort, std::nullopt, 0},
        {"1491\nx\n1060\n", {1040, 0}, Decision::NewUpdater, std::nullopt, 0},
        {"1490\n1491\n1060\n", {1040, 0}, Decision::UpdaterTooOld, 1491, 0},
        {"1490\n1480\n1060\n0\n1030\n", {1040, 0}, Decision::Unusable, 1480, 0},
        {"1490\n1480\n1060\n0\n1030\n0\n", {1060, 0}, Decision::ClientCurrent, 1480, 0},
        {"1490\n1480\n1060\n0\n1030\n1\n", {1030, 0}, Decision::ClientTooOld, 1480, 0},
        {"1490\n1480\n1060\n0\n1030\n0\n[1030.0]\n", {1040, 0}, Decision::NoSection, 1480, 0},
        {"#c\n1490\n1480\n1060\n0\n1030\n0\n[1030.1]\n[1040.0]\n",
         {1040, 0},
         Decision::Patch,
         1480,
         7},
    };
    for (const auto& c : cases) {
        const Verdict verdict = Decide(ReadIndex(c.text), c.client, 1490);
        EXPECT_EQ(verdict.decision, c.decision) << c.text;
        EXPECT_EQ(verdict.minimumUpdater, c.minimumUpdater) << c.text;
        EXPECT_EQ(verdict.sectionStart, c.sectionStart) << c.text;
    }
}

TEST(SectionWalk, StepsEntriesAndFaultsForEngineAndPublisher) {
    signed_index::Manifest signedFiles;
    signedFiles.files["patch/a.upd"] = {};
    // Each step as "line:kind", kind d (directory), f (file), - (passed over)
    // or the fault: C cut off, U unsafe, N not signed, S bad size.
    const struct {
        const char* section;  // lines after "[1040.0]"
        bool sign;
        std::vector<std::string> steps;
    } cases[] = {
        {"d-e\n0\na.upd\n12;2004-09-18 21:05:33\n\nb.upd\n1\n",
         false,
         {"0:-", "1:d", "3:f", "5:-"}},
        {"a.upd\n1\n{0999.0}\n[1050.0]\nb.upd\n2\n{1040.0}\nc.upd\n3\n",
         false,
         {"0:-", "1:f", "3:-", "4:-", "5:f", "7:-"}},
        {"..-x\n0\na.upd\nx1\nb.upd\n", false, {"0:-", "1:U", "3:S", "5:C"}},
        {"a.upd\n1\nb.upd\n2\n", true, {"0:-", "1:f", "3:N"}},
    };
    for (const auto& c : cases) {
        const Index index = ReadIndex(std::string("[1040.0]\n") + c.section);
        std::vector<std::string> steps;
        for (const WalkStep& step :
             WalkSection(index, 0, {1040, 0}, "\\", c.sign ? &signedFiles : nullptr)) {
            std::string kind = step.entry ? (step.entry->directory ? "d" : "f") : "-";
            if (step.fault) {
                kind = std::string(1, "CUNS"[static_cast<int>(step.fault->kind)]);
            }
            steps.push_back(std::to_string(step.at) + ":" + kind);
        }
        EXPECT_EQ(steps, c.steps) << c.section;
    }
    const Index index = ReadIndex("[1040.0]\nd-e\n0\nd-e-f.bin.upd\n12;2004-09-18 21:05:33\n");
    const std::vector<WalkStep> steps = WalkSection(index, 0, {1040, 0}, "\\");
    EXPECT_EQ(steps[1].entry->target, "d\\e");
    EXPECT_EQ(steps[2].entry->target, "d/e/f.bin");
    EXPECT_EQ(steps[2].entry->size, 12);
    EXPECT_EQ(steps[2].entry->stamp, "2004-09-18 21:05:33");
}

TEST(SectionKeys, ReadBackOnlyAsWritten) {
    uint32_t version = 0;
    uint32_t build = 0;
    EXPECT_TRUE(ParseSectionKey("[0950.3]", &version, &build));
    EXPECT_EQ(version, 950u);
    EXPECT_EQ(build, 3u);
    for (const char* text : {"[950.3]", "[0950.3] ", "[0950.03]", "[+950.3]", "[0950.]",
                             "[4294967296.0]", "{0950.3}", "[0950]"}) {
        EXPECT_FALSE(ParseSectionKey(text, &version, &build)) << text;
    }
}

TEST(DeltaLines, OnlyWellFormedLinesForSafeNamesAreRead) {
    const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
    const std::string good = "data-sea.map.upd." + b.substr(0, 16) + ".dlt";
    const struct {
        std::string line;
        bool read;
    } cases[] = {
        {"#delta 812 " + a + " " + b + " " + c + " " + good, true},
        {"#delta 812 " + a + " " + b + " " + c + " data-sea.map.upd." + a.substr(0, 16) + ".dlt",
         false},  // other source digits
        {"#delta 812 " + a + " " + b + " " + c + " ../" + good, false},
        {"#delta 812 " + a + " " + b + " " + c + " d\\" + good, false},
        {"#delta 0812 " + a + " " + b + " " + c + " " + good, false},
        {"#delta 812 " + a + " " + b + " " + c.substr(1) + "C " + good, false},
        {"#delta 812 " + a + " " + b + " " + c, false},
        {"#delta 812 " + a + " " + b + " " + c + " data-sea.map.upd." + b.substr(0, 16), false},
        {"#delta2 812 " + a + " " + b + " " + c + " data-sea.map.upd." + b.substr(0, 16) + ".dl2",
         true},
        {"#delta2 812 " + a + " " + b + " " + c + " " + good, false},  // the first format's name
        {"#delta3 812 " + a + " " + b + " " + c + " " + good, true},   // another tag: not read
    };
    for (const auto& row : cases) {
        const delta_lines::Announced announced =
            delta_lines::ReadDeltaLines("1490\r\n" + row.line + "\r\n");
        const bool otherTag = row.line.compare(0, 8, "#delta3 ") == 0;
        EXPECT_EQ(announced.byName.size(), row.read && !otherTag ? 1u : 0u) << row.line;
        EXPECT_EQ(announced.problems.size(), row.read ? 0u : 1u) << row.line;
    }
    // What is written is read back, and found for its container and source only.
    const delta_lines::Delta delta{812, a, b, c, delta_lines::DeltaName("data-sea.map.upd", b)};
    const delta_lines::Announced back =
        delta_lines::ReadDeltaLines(delta_lines::FormatDeltaLine(delta));
    ASSERT_NE(delta_lines::FindDelta(back, "data-sea.map.upd", b), nullptr);
    EXPECT_EQ(delta_lines::FindDelta(back, "data-sea.map.upd", b)->resultSha256, c);
    EXPECT_EQ(delta_lines::FindDelta(back, "data-sea.map.upd", a), nullptr);
    EXPECT_EQ(delta_lines::FindDelta(back, "data-ship.map.upd", b), nullptr);
    // Where both formats are announced for one source, the compact one is taken.
    delta_lines::Delta first = delta;
    first.version = 1;
    first.name = delta_lines::DeltaName("data-sea.map.upd", b, 1);
    const delta_lines::Announced both = delta_lines::ReadDeltaLines(
        delta_lines::FormatDeltaLine(first) + "\r\n" + delta_lines::FormatDeltaLine(delta));
    ASSERT_EQ(both.byName.size(), 2u);
    EXPECT_EQ(delta_lines::FindDelta(both, "data-sea.map.upd", b)->version, 2u);
    EXPECT_EQ(delta_lines::FindDelta(both, "data-sea.map.upd", b)->name, delta.name);
}

}  // namespace
