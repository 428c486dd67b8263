// Texts that the files could not give back unchanged: a name with a ':' or a
// line break in it, say, would split into other users on the next read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rk {

// What is wrong with the text as a user name, or nothing when it is fine.
std::optional<std::string_view> name_defect(std::string_view name);
// ... as a password hash.
std::optional<std::string_view> hash_defect(std::string_view hash);
// ... as a system user or an e-mail address.
std::optional<std::string_view> answer_defect(std::string_view answer);

bool has_control(std::string_view text);

// Appends text to out as printable() shows it.
void append_printable(std::string& out, std::string_view text);

// The text with its control characters (bytes below 0x20, and 0x7f) shown
// as \xNN, fit to be shown on a terminal; every other byte stays as it is.
std::string printable(std::string_view text);

}  // namespace rk
