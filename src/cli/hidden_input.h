// Reading a password from the terminal with echo off.
#pragma once

#include <optional>

#include "cli/secret_text.h"

namespace rk {

// One line of standard input, the stream every answer comes from. At a
// terminal it is read as readpassphrase(3) reads it, from /dev/tty: with echo off, the
// terminal put back before any signal takes effect, echo back on while
// stopped and off again on resume. Elsewhere (a pipe, a file) it is a whole
// line, as a plain question reads it. Nothing (reported) when it cannot be
// read.
std::optional<secret_text> read_hidden_line();

}  // namespace rk
