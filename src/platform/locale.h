// The user's default language identifier (GetUserDefaultLangID): on POSIX
// derived from LC_ALL, LC_MESSAGES or LANG, e.g. de_DE gives 0x0407 and
// en_US 0x0409.
#pragma once

#include <cstdint>

namespace plat {

uint16_t UserDefaultLangId();

// The decimal separator of the user's number format (GetLocaleInfoA with
// LOCALE_SDECIMAL): on POSIX taken from LC_ALL, LC_NUMERIC or LANG, e.g. ','
// for de_DE and '.' for en_US, de_CH or no locale at all.
char DecimalSeparator();

}  // namespace plat
