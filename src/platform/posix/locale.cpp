// The user's default language identifier, taken from the POSIX locale the
// way the C library chooses the language of messages: LC_ALL, then
// LC_MESSAGES, then LANG, the first one set and not empty. A locale name reads
// language[_TERRITORY][.codeset][@modifier] and maps to the Windows language
// identifier of that language in that country. A known language in a country
// without an identifier of its own gets the language's default one, so a
// German speaker in Belgium still counts as German; "C", "POSIX", an unset
// locale and a language without a Windows identifier give US English.
#include "platform/locale.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace plat {

namespace {

constexpr uint16_t kUsEnglish = 0x0409;

struct Territory {
    const char* code;
    uint16_t langId;
};

struct Language {
    const char* code;
    uint16_t defaultLangId;  // the language alone, SUBLANG_DEFAULT
    Territory territories[22];
};

// Countries are listed where the language has more than one identifier or
// its default is not its home country's.
constexpr Language kLanguages[] = {
    {"af", 0x0436, {{"ZA", 0x0436}}},
    {"ar",
     0x0401,
     {{"SA", 0x0401},
      {"IQ", 0x0801},
      {"EG", 0x0C01},
      {"LY", 0x1001},
      {"DZ", 0x1401},
      {"MA", 0x1801},
      {"TN", 0x1C01},
      {"OM", 0x2001},
      {"YE", 0x2401},
      {"SY", 0x2801},
      {"JO", 0x2C01},
      {"LB", 0x3001},
      {"KW", 0x3401},
      {"AE", 0x3801},
      {"BH", 0x3C01},
      {"QA", 0x4001}}},
    {"be", 0x0423, {{"BY", 0x0423}}},
    {"bg", 0x0402, {{"BG", 0x0402}}},
    {"ca", 0x0403, {{"ES", 0x0403}}},
    {"cs", 0x0405, {{"CZ", 0x0405}}},
    {"cy", 0x0452, {{"GB", 0x0452}}},
    {"da", 0x0406, {{"DK", 0x0406}}},
    {"de",
     0x0407,
     {{"DE", 0x0407}, {"CH", 0x0807}, {"AT", 0x0C07}, {"LU", 0x1007}, {"LI", 0x1407}}},
    {"el", 0x0408, {{"GR", 0x0408}}},
    {"en",
     0x0409,
     {{"US", 0x0409},
      {"GB", 0x0809},
      {"AU", 0x0C09},
      {"CA", 0x1009},
      {"NZ", 0x1409},
      {"IE", 0x1809},
      {"ZA", 0x1C09},
      {"JM", 0x2009},
      {"BZ", 0x2809},
      {"TT", 0x2C09},
      {"ZW", 0x3009},
      {"PH", 0x3409},
      {"IN", 0x4009},
      {"MY", 0x4409},
      {"SG", 0x4809}}},
    {"es", 0x040A, {{"ES", 0x0C0A}, {"MX", 0x080A}, {"GT", 0x100A}, {"CR", 0x140A},
                    {"PA", 0x180A}, {"DO", 0x1C0A}, {"VE", 0x200A}, {"CO", 0x240A},
                    {"PE", 0x280A}, {"AR", 0x2C0A}, {"EC", 0x300A}, {"CL", 0x340A},
                    {"UY", 0x380A}, {"PY", 0x3C0A}, {"BO", 0x400A}, {"SV", 0x440A},
                    {"HN", 0x480A}, {"NI", 0x4C0A}, {"PR", 0x500A}, {"US", 0x540A}}},
    {"et", 0x0425, {{"EE", 0x0425}}},
    {"eu", 0x042D, {{"ES", 0x042D}}},
    {"fa", 0x0429, {{"IR", 0x0429}}},
    {"fi", 0x040B, {{"FI", 0x040B}}},
    {"fo", 0x0438, {{"FO", 0x0438}}},
    {"fr",
     0x040C,
     {{"FR", 0x040C},
      {"BE", 0x080C},
      {"CA", 0x0C0C},
      {"CH", 0x100C},
      {"LU", 0x140C},
      {"MC", 0x180C}}},
    {"ga", 0x083C, {{"IE", 0x083C}}},
    {"gl", 0x0456, {{"ES", 0x0456}}},
    {"he", 0x040D, {{"IL", 0x040D}}},
    {"hi", 0x0439, {{"IN", 0x0439}}},
    {"hr", 0x041A, {{"HR", 0x041A}, {"BA", 0x101A}}},
    {"hu", 0x040E, {{"HU", 0x040E}}},
    {"hy", 0x042B, {{"AM", 0x042B}}},
    {"id", 0x0421, {{"ID", 0x0421}}},
    {"is", 0x040F, {{"IS", 0x040F}}},
    {"it", 0x0410, {{"IT", 0x0410}, {"CH", 0x0810}}},
    {"ja", 0x0411, {{"JP", 0x0411}}},
    {"ka", 0x0437, {{"GE", 0x0437}}},
    {"kk", 0x043F, {{"KZ", 0x043F}}},
    {"ko", 0x0412, {{"KR", 0x0412}}},
    {"lb", 0x046E, {{"LU", 0x046E}}},
    {"lt", 0x0427, {{"LT", 0x0427}}},
    {"lv", 0x0426, {{"LV", 0x0426}}},
    {"mk", 0x042F, {{"MK", 0x042F}}},
    {"ms", 0x043E, {{"MY", 0x043E}, {"BN", 0x083E}}},
    {"mt", 0x043A, {{"MT", 0x043A}}},
    {"nb", 0x0414, {{"NO", 0x0414}}},
    {"nl", 0x0413, {{"NL", 0x0413}, {"BE", 0x0813}}},
    {"nn", 0x0814, {{"NO", 0x0814}}},
    {"no", 0x0414, {{"NO", 0x0414}}},
    {"pl", 0x0415, {{"PL", 0x0415}}},
    {"pt", 0x0416, {{"BR", 0x0416}, {"PT", 0x0816}}},
    {"rm", 0x0417, {{"CH", 0x0417}}},
    {"ro", 0x0418, {{"RO", 0x0418}}},
    {"ru", 0x0419, {{"RU", 0x0419}}},
    {"sk", 0x041B, {{"SK", 0x041B}}},
    {"sl", 0x0424, {{"SI", 0x0424}}},
    {"sq", 0x041C, {{"AL", 0x041C}}},
    {"sr", 0x0C1A, {{"RS", 0x281A}, {"BA", 0x1C1A}, {"ME", 0x2C1A}}},
    {"sv", 0x041D, {{"SE", 0x041D}, {"FI", 0x081D}}},
    {"sw", 0x0441, {{"KE", 0x0441}}},
    {"th", 0x041E, {{"TH", 0x041E}}},
    {"tr", 0x041F, {{"TR", 0x041F}}},
    {"uk", 0x0422, {{"UA", 0x0422}}},
    {"ur", 0x0420, {{"PK", 0x0420}}},
    {"vi", 0x042A, {{"VN", 0x042A}}},
    {"zh",
     0x0404,
     {{"TW", 0x0404}, {"CN", 0x0804}, {"HK", 0x0C04}, {"SG", 0x1004}, {"MO", 0x1404}}},
};

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

const char* LocaleName(const char* category = "LC_MESSAGES") {
    for (const char* variable : {"LC_ALL", category, "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return nullptr;
}

}  // namespace

uint16_t UserDefaultLangId() {
    const char* name = LocaleName();
    if (name == nullptr) {
        return kUsEnglish;
    }
    // language[_TERRITORY][.codeset][@modifier]; "de-DE" is taken as well.
    std::string_view rest(name);
    rest = rest.substr(0, rest.find_first_of(".@"));
    const size_t sep = rest.find_first_of("_-");
    const std::string_view languagePart = rest.substr(0, sep);
    const std::string_view territoryPart =
        sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);

    std::string language;
    for (const char c : languagePart) {
        if (!IsLetter(c)) {
            return kUsEnglish;  // a path or other name that is no locale
        }
        language += Lower(c);
    }
    std::string territory;
    for (const char c : territoryPart) {
        territory += Upper(c);
    }
    for (const Language& entry : kLanguages) {
        if (language != entry.code) {
            continue;
        }
        for (const Territory& t : entry.territories) {
            if (t.code != nullptr && territory == t.code) {
                return t.langId;
            }
        }
        return entry.defaultLangId;
    }
    return kUsEnglish;
}

char DecimalSeparator() {
    const char* name = LocaleName("LC_NUMERIC");
    if (name == nullptr) {
        return '.';
    }
    const std::string_view locale(name);
    // Territories whose language writes a comma elsewhere but a point there.
    for (const std::string_view point : {"de_CH", "de_LI", "it_CH", "fr_CH", "es_MX", "es_US"}) {
        if (locale.substr(0, point.size()) == point) {
            return '.';
        }
    }
    const std::string_view language = locale.substr(0, locale.find_first_of("_-.@"));
    for (const std::string_view comma :
         {"de", "fr", "es", "it", "nl", "pt", "ru", "pl", "cs", "sk", "da",
          "sv", "fi", "nb", "nn", "no", "tr", "el", "hu", "ro", "sl", "hr",
          "sr", "bg", "uk", "ca", "et", "lv", "lt", "is", "id", "vi"}) {
        if (language == comma) {
            return ',';
        }
    }
    return '.';
}

}  // namespace plat
