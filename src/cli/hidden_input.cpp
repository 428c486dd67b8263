#include "cli/hidden_input.h"

#if __has_include(<readpassphrase.h>)
#include <readpassphrase.h>
#else
#include <bsd/readpassphrase.h>
#endif
#include <unistd.h>

#include <cstdio>

namespace rk {
namespace {

// A whole line of standard input, as a plain question reads it: the answers
// of a script stay in step whatever the line holds (a CR, say, which is then
// refused as a control character). A line too long for the buffer is read
// to its end and refused the same way.
std::optional<secret_text> read_piped_line() {
  secret_text password;
  std::size_t length = 0;
  bool too_long = false;
  for (int c; (c = std::getc(stdin)) != '\n';) {
    // The end of input ends the line, as for readpassphrase: with nothing
    // read, the answer is empty.
    if (c == EOF) {
      if (std::ferror(stdin)) {
        std::perror("readpassphrase");
        return std::nullopt;
      }
      break;
    }
    if (length + 1 < secret_text::capacity) {
      password.data()[length++] = static_cast<char>(c);
    } else {
      too_long = true;
    }
  }
  // A control character where the text would end: refused, never stored.
  if (too_long) password.data()[0] = '\x01';
  return password;
}

}  // namespace

std::optional<secret_text> read_hidden_line() {
  if (!isatty(STDIN_FILENO)) return read_piped_line();
  secret_text password;
  // From the terminal the answers are typed at, with echo off; the prompt
  // is already on standard output.
  if (!readpassphrase("", password.data(), secret_text::capacity, RPP_ECHO_OFF)) {
    std::perror("readpassphrase");
    return std::nullopt;
  }
  return password;
}

}  // namespace rk
