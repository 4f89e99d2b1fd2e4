// The user's default language identifier from the POSIX locale variables.
#include <gtest/gtest.h>

#include "platform/locale.h"
#include "support/test_support.h"

namespace {

using brf_test::ScopedEnv;

// The language identifier with only LANG set to `locale`.
uint16_t LangIdOf(const char* locale) {
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv messages("LC_MESSAGES", nullptr);
    ScopedEnv lang("LANG", locale);
    return plat::UserDefaultLangId();
}

TEST(UserDefaultLangId, GermanInEveryCountryTheStartUpCountsAsGerman) {
    EXPECT_EQ(LangIdOf("de_DE.UTF-8"), 0x0407);
    EXPECT_EQ(LangIdOf("de_CH.UTF-8"), 0x0807);
    EXPECT_EQ(LangIdOf("de_AT"), 0x0C07);
    EXPECT_EQ(LangIdOf("de_LU.ISO-8859-1"), 0x1007);
    EXPECT_EQ(LangIdOf("de_LI.UTF-8"), 0x1407);
    EXPECT_EQ(LangIdOf("de_DE@euro"), 0x0407);
    EXPECT_EQ(LangIdOf("de_DE.ISO-8859-15@euro"), 0x0407);
    // German where Windows has no identifier of its own is still German.
    EXPECT_EQ(LangIdOf("de_BE.UTF-8"), 0x0407);
    EXPECT_EQ(LangIdOf("de"), 0x0407);
}

TEST(UserDefaultLangId, OtherLanguagesGetTheirWindowsIdentifiers) {
    EXPECT_EQ(LangIdOf("en_US.UTF-8"), 0x0409);
    EXPECT_EQ(LangIdOf("en_GB.UTF-8"), 0x0809);
    EXPECT_EQ(LangIdOf("fr_FR.UTF-8"), 0x040C);
    EXPECT_EQ(LangIdOf("it_IT.UTF-8"), 0x0410);
    EXPECT_EQ(LangIdOf("es_ES.UTF-8"), 0x0C0A);
    EXPECT_EQ(LangIdOf("nl_NL.UTF-8"), 0x0413);
    EXPECT_EQ(LangIdOf("pl_PL.UTF-8"), 0x0415);
    EXPECT_EQ(LangIdOf("ru_RU.UTF-8"), 0x0419);
    EXPECT_EQ(LangIdOf("pt_BR.UTF-8"), 0x0416);
    EXPECT_EQ(LangIdOf("zh_CN.UTF-8"), 0x0804);
    EXPECT_EQ(LangIdOf("fr"), 0x040C);
    EXPECT_EQ(LangIdOf("es"), 0x040A);
    EXPECT_EQ(LangIdOf("en"), 0x0409);
}

TEST(UserDefaultLangId, SpellingVariantsOfTheName) {
    EXPECT_EQ(LangIdOf("DE_ch"), 0x0807);
    EXPECT_EQ(LangIdOf("de-AT"), 0x0C07);
    EXPECT_EQ(LangIdOf("de.UTF-8"), 0x0407);
}

TEST(UserDefaultLangId, NoLocaleMeansUsEnglish) {
    EXPECT_EQ(LangIdOf(nullptr), 0x0409);
    EXPECT_EQ(LangIdOf(""), 0x0409);
    EXPECT_EQ(LangIdOf("C"), 0x0409);
    EXPECT_EQ(LangIdOf("C.UTF-8"), 0x0409);
    EXPECT_EQ(LangIdOf("POSIX"), 0x0409);
    EXPECT_EQ(LangIdOf("xx_YY"), 0x0409);
    EXPECT_EQ(LangIdOf("/etc/passwd"), 0x0409);
}

TEST(UserDefaultLangId, LcAllBeforeLcMessagesBeforeLang) {
    ScopedEnv lang("LANG", "fr_FR.UTF-8");
    {
        ScopedEnv all("LC_ALL", "de_CH.UTF-8");
        ScopedEnv messages("LC_MESSAGES", "it_IT.UTF-8");
        EXPECT_EQ(plat::UserDefaultLangId(), 0x0807);
    }
    {
        ScopedEnv all("LC_ALL", "");
        ScopedEnv messages("LC_MESSAGES", "it_IT.UTF-8");
        EXPECT_EQ(plat::UserDefaultLangId(), 0x0410);
    }
    {
        ScopedEnv all("LC_ALL", nullptr);
        ScopedEnv messages("LC_MESSAGES", "");
        EXPECT_EQ(plat::UserDefaultLangId(), 0x040C);
    }
}

}  // namespace
