#include <gtest/gtest.h>

#include <string>

#include "platform/message_box.h"

namespace {

TEST(MessageBox, InstalledHandlerReceivesTheBoxAndAnswersIt) {
    std::string seen;
    plat::SetMessageBoxHandler([&](const plat::MessageBoxRequest& r) {
        seen = std::string(r.caption) + "|" + r.text;
        return plat::kIdNo;
    });
    EXPECT_EQ(plat::ShowMessageBox("Cannot execute file terms.exe!", "Error!", plat::kMbYesNo),
              plat::kIdNo);
    EXPECT_EQ(seen, "Error!|Cannot execute file terms.exe!");
    plat::SetMessageBoxHandler(nullptr);
}

TEST(MessageBox, NullTextsBecomeEmptyTexts) {
    std::string seen = "unchanged";
    plat::SetMessageBoxHandler([&](const plat::MessageBoxRequest& r) {
        seen = std::string(r.caption) + r.text;
        return plat::kIdOk;
    });
    plat::ShowMessageBox(nullptr, nullptr, plat::kMbOk);
    EXPECT_EQ(seen, "");
    plat::SetMessageBoxHandler(nullptr);
}

}  // namespace
