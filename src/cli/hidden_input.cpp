#include "cli/hidden_input.h"

#if __has_include(<readpassphrase.h>)
#include <readpassphrase.h>
#else
#include <bsd/readpassphrase.h>
#endif

#include <cstdio>

namespace rk {

std::optional<secret_text> read_hidden_line() {
  secret_text password;
  // The prompt is already on standard output.
  if (!readpassphrase("", password.data(), secret_text::capacity, RPP_ECHO_OFF)) {
    std::perror("readpassphrase");
    return std::nullopt;
  }
  return password;
}

}  // namespace rk
