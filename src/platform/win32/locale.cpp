#include <windows.h>

#include "platform/locale.h"

namespace plat {

uint16_t UserDefaultLangId() {
    return GetUserDefaultLangID();
}

char DecimalSeparator() {
    char buffer[8] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, sizeof buffer) < 2) {
        return '.';
    }
    return buffer[0];
}

}  // namespace plat
