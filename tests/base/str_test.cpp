#include <gtest/gtest.h>

#include <cstring>

#include "shared/base/s_logging.h"

namespace {

CStr& Str() {
    return *CStr::Get();
}

TEST(CStr, SplitSeparatesKeyAndValue) {
    char text[32] = "key=value";
    char rest[32] = "old";
    EXPECT_TRUE(Str().Split(text, rest, '='));
    EXPECT_STREQ(text, "key");
    EXPECT_STREQ(rest, "value");

    std::strcpy(text, "key=");
    std::strcpy(rest, "old");
    EXPECT_FALSE(Str().Split(text, rest, '='));
    EXPECT_STREQ(text, "key");
    EXPECT_STREQ(rest, "");

    std::strcpy(text, "key");
    std::strcpy(rest, "old");
    EXPECT_FALSE(Str().Split(text, rest, '='));
    EXPECT_STREQ(text, "key");
    EXPECT_STREQ(rest, "");

    std::strcpy(text, "a=b=c");
    EXPECT_TRUE(Str().Split(text, rest, '='));
    EXPECT_STREQ(text, "a");
    EXPECT_STREQ(rest, "b=c");
}

TEST(CStr, ToIntKeepsDigitsAndMinusOnly) {
    char version[] = "1.49";
    EXPECT_EQ(Str().ToInt(version), 149);
    EXPECT_STREQ(version, "149");
    char negative[] = "v-12 build";
    EXPECT_EQ(Str().ToInt(negative), -12);
    char inner[] = "1-2";
    EXPECT_EQ(Str().ToInt(inner), 1);
    char none[] = "abc";
    EXPECT_EQ(Str().ToInt(none), 0);
    EXPECT_EQ(Str().ToInt(nullptr), 0);
    char huge[] = "99999999999999999999";
    EXPECT_EQ(Str().ToInt(huge), INT32_MAX);
    char hugeNegative[] = "-99999999999999999999";
    EXPECT_EQ(Str().ToInt(hugeNegative), INT32_MIN);
}

TEST(CStr, DeleteMidAndFindStayInsideTheText) {
    char text[] = "patch/file.pak";
    Str().Delete(text, 0, 6);
    EXPECT_STREQ(text, "file.pak");
    Str().Delete(text, 4, 100);
    EXPECT_STREQ(text, "file");
    Str().Delete(text, 4, 1);
    Str().Delete(text, 1, 0);
    EXPECT_STREQ(text, "file");

    char dst[16] = "untouched";
    EXPECT_TRUE(Str().Mid("version", dst, 3, 100));
    EXPECT_STREQ(dst, "sion");
    EXPECT_FALSE(Str().Mid("version", dst, 7, 1));
    EXPECT_FALSE(Str().Mid("", dst, 0, 1));
    EXPECT_FALSE(Str().Mid("abc", dst, 0, 0));
    EXPECT_STREQ(dst, "sion");

    EXPECT_EQ(Str().Find("a/b/c", '/', 0), 1);
    EXPECT_EQ(Str().Find("a/b/c", '/', 1), 3);
    EXPECT_EQ(Str().Find("abc", '/', 0), -1);
    EXPECT_EQ(Str().Find("", '/', 0), -1);
    EXPECT_EQ(Str().Find(nullptr, '/', 1), -1);
}

TEST(CStr, BoundedVariantsAlwaysTerminate) {
    char small[8];
    Str().Clear(small, sizeof small, "0123456789");
    EXPECT_STREQ(small, "0123456");
    Str().Format(small, sizeof small, "%s-%i", "abcdef", 42);
    EXPECT_STREQ(small, "abcdef-");
    Str().Concat(small, "patch/", "updater.exe.upd");
    EXPECT_STREQ(small, "patch/u");

    char path[32] = "patch/";
    Str().Concat(path, path, "a.pak");
    EXPECT_STREQ(path, "patch/a.pak") << "the destination may be the first part";
    Str().Concat(path, "backup/", path);
    EXPECT_STREQ(path, "backup/patch/a.pak") << "or the second";
    Str().Concat(path, nullptr, "x");
    EXPECT_STREQ(path, "x");
}

}  // namespace
