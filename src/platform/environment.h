// Environment variables of the running process, inherited by the programs it
// starts.
#pragma once

#include <optional>
#include <string>

namespace plat {

std::optional<std::string> GetEnv(const char* name);
// Sets (or, with a null value, removes) a variable for this process and the
// programs it starts from now on.
void SetEnv(const char* name, const char* value);

}  // namespace plat
