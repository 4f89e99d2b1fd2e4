#include <windows.h>

#include "platform/locale.h"

namespace plat {

uint16_t UserDefaultLangId() {
    return GetUserDefaultLangID();
}

}  // namespace plat
