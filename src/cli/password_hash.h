// Hashing a password with the system's crypt function.
#pragma once

#include <optional>
#include <string>

#include "cli/secret_text.h"

namespace rk {

// crypt(3) of password with salt, or nothing (reported) when crypt gives no
// result.
std::optional<std::string> hash_password(secret_text& password, const char* salt);

}  // namespace rk
