// The POSIX registry's reader of hive files, on their bytes: RegKey::Open
// reads the file and asks this what it says about the key being opened.
// The format is described in registry.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace plat {

struct HiveValue {
    uint32_t type = kRegNone;
    std::string data;
};

// What a hive file says about one key.
struct HiveKey {
    bool exists = false;
    std::map<std::string, HiveValue> values;  // by FoldRegistryName of the name
};

// What the bytes of a hive file of `root`, in any of the encodings the
// format allows, say about the key `subKey` (any case, backslashes around
// it ignored; empty for the root key itself).
HiveKey ReadHiveKey(std::string_view fileBytes, RegRoot root, std::string_view subKey);

// A key or value name as the registry compares it: without regard to the
// case of ASCII and Windows-1252 letters.
std::string FoldRegistryName(std::string_view name);

}  // namespace plat
