// The user's default language identifier (GetUserDefaultLangID): on POSIX
// derived from LC_ALL, LC_MESSAGES or LANG, e.g. de_DE gives 0x0407 and
// en_US 0x0409.
#pragma once

#include <cstdint>

namespace plat {

uint16_t UserDefaultLangId();

}  // namespace plat
