// The bundle lines: a bundle is read only when its lines are well formed and
// its members tile it exactly; anything else leaves it out whole.
#include <gtest/gtest.h>

#include "index/bundle_lines.h"

namespace {

using namespace bundle_lines;

TEST(BundleLines, ABundleIsReadOnlyWhenItsMembersTileItExactly) {
    const std::string a(64, 'a'), b(64, 'b');
    const std::string bundle = "#bundle 30 " + a + " 1040.0 _bundle.1040.0.bdl\r\n";
    const auto member = [&](const std::string& offset, const std::string& size,
                            const std::string& name) {
        return "#bundle-member _bundle.1040.0.bdl " + offset + " " + size + " " + b + " " + name +
               "\r\n";
    };
    const std::string first = member("0", "10", "sea.map.upd");
    const std::string second = member("10", "20", "BRF Client.exe.upd");
    const struct {
        std::string lines;
        bool read;
    } cases[] = {
        {bundle + first + second, true},
        {first + second + bundle, true},   // the bundle line may follow its members
        {bundle + second + first, false},  // members tile in line order
        {"#bundle 030 " + a + " 1040.0 _bundle.1040.0.bdl\r\n" + first + second, false},
        {"#bundle 30 " + a.substr(1) + "A 1040.0 _bundle.1040.0.bdl\r\n" + first + second, false},
        {"#bundle 30 " + a + " 1040 _bundle.1040.0.bdl\r\n" + first + second, false},
        {"#bundle 30 " + a + " 1040.-1 _bundle.1040.0.bdl\r\n" + first + second, false},
        {"#bundle 30 " + a + " 1040.0 .bundle\r\n" + first + second, false},
        {bundle + first + member("10", "20", "..\\sea.map.upd"), false},
        {bundle + first + member("10", "2O", "x.upd"), false},  // unreadable member line
        {bundle + first, false},                                // ends short of the bundle
        {bundle + first + member("11", "19", "x.upd"), false},  // a gap
        {bundle + first + member("9", "21", "x.upd"), false},   // an overlap
        {bundle + first + member("10", "21", "x.upd"), false},  // past the end
        {bundle + member("0", "0", "x.upd") + first + second, false},
        {bundle + first + member("10", "20", "sea.map.upd"), false},  // a name twice
        {bundle, false},                                              // no members
        {bundle + bundle + first + second, false},
        {bundle + first + second + "#bundle 5 " + a + " 1040.0 other.bdl\r\n" +
             "#bundle-member other.bdl 0 5 " + b + " x.upd\r\n",
         false},  // two bundles for one section
    };
    for (const auto& row : cases) {
        const Announced announced = ReadBundleLines("1490\r\n" + row.lines);
        EXPECT_EQ(FindBundle(announced, {1040, 0}) != nullptr, row.read) << row.lines;
        EXPECT_EQ(announced.problems.empty(), row.read) << row.lines;
    }
    // What is written is read back, and found for its section only.
    const Bundle made{30,
                      a,
                      {950, 3},
                      BundleName({950, 3}),
                      {{0, 10, b, "sea.map.upd"}, {10, 20, b, "sea.map.upd.0123456789abcdef.dlt"}}};
    std::string text;
    for (const std::string& line : FormatBundleLines(made)) {
        text += line + "\n";
    }
    const Announced back = ReadBundleLines(text);
    ASSERT_NE(FindBundle(back, {950, 3}), nullptr) << text;
    EXPECT_EQ(FindBundle(back, {950, 3})->name, "_bundle.0950.3.bdl");
    EXPECT_EQ(FindBundle(back, {950, 3})->members[1].name, made.members[1].name);
    EXPECT_EQ(FindBundle(back, {950, 0}), nullptr);
}

}  // namespace
