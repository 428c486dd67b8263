// Reading a password from the terminal with echo off.
#pragma once

#include <optional>

#include "cli/secret_text.h"

namespace rk {

// One line from /dev/tty (or from standard input when there is no terminal),
// not echoed; nothing (reported) when it cannot be read.
std::optional<secret_text> read_hidden_line();

}  // namespace rk
