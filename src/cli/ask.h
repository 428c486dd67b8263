// Questions on the terminal.
#pragma once

#include <optional>
#include <string>

namespace rk {

// Prints the prompt and reads the answer: a line of standard input, or, for a
// hidden question, a password read without echo and returned as its crypt
// hash. Nothing for an empty answer. Ends the run (status 1) when no answer
// can be read.
std::optional<std::string> ask(bool hidden, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The answer to a password question: the hash of what was typed, nothing
// for an empty answer; refused (and never hashed) when the password holds a
// control character.
struct password_answer {
  std::optional<std::string> hash;
  bool refused = false;
  // What was typed: how long, and whether it has the whole form of a
  // crypt hash beginning with '$'.
  std::size_t typed_length = 0;
  bool looks_like_hash = false;
};
password_answer ask_password(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Asks until the answer is one of y, Y, n, N; end of input counts as no.
bool ask_yes_no(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Fills salt with two characters of the crypt salt alphabet and a terminator.
void make_salt(char* salt);

}  // namespace rk
