// Reading a password from the terminal with echo off.
#pragma once

#include <optional>

#include "cli/secret_text.h"

namespace rk {

// One line read as readpassphrase(3) reads it: from /dev/tty with echo off,
// the terminal put back before any signal takes effect, echo back on while
// stopped and off again on resume; from standard input where there is no
// terminal. Nothing (reported) when it cannot be read.
std::optional<secret_text> read_hidden_line();

}  // namespace rk
