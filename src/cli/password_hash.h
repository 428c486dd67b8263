// Hashing a password with the system's crypt function.
#pragma once

#include <optional>
#include <string>

#include "cli/secret_text.h"

namespace rk {

// crypt(3) of password with salt, or nothing (reported) when crypt gives no
// result.
std::optional<std::string> hash_password(const secret_text& password, const char* salt);

// Whether the system's crypt recognises hash as one of its hashes (not just
// its salt), or hash marks a locked account ('!' or '*' first).
bool is_known_hash_form(const char* hash);

}  // namespace rk
