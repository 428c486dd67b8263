#include "cli/ask.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/hidden_input.h"
#include "cli/password_hash.h"

namespace rk {
namespace {

struct buffer_free {
  void operator()(char* buffer) const { std::free(buffer); }
};

std::optional<std::string> ask_hidden() {
  char salt[3];
  make_salt(salt);
  auto password = read_hidden_line();
  if (!password) std::exit(1);
  if (password->empty()) return std::nullopt;
  auto hash = hash_password(*password, salt);
  if (!hash) std::exit(1);
  return hash;
}

// A whole line, whatever its length.
std::optional<std::string> ask_plain() {
  char* raw = nullptr;
  std::size_t capacity = 0;
  ssize_t length = getline(&raw, &capacity, stdin);
  std::unique_ptr<char, buffer_free> buffer(raw);
  if (length < 0) {
    if (std::ferror(stdin)) {
      std::perror("fgets");
    } else {
      std::fputs("fgets: end of input\n", stderr);
    }
    std::exit(1);
  }
  std::string answer(raw, static_cast<std::size_t>(length));
  if (!answer.empty() && answer.back() == '\n') answer.pop_back();
  if (answer.empty()) return std::nullopt;
  return answer;
}

}  // namespace

std::optional<std::string> ask(bool hidden, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fflush(stdout);
  return hidden ? ask_hidden() : ask_plain();
}

bool ask_yes_no(const char* format, ...) {
  char prompt[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(prompt, sizeof prompt, format, arguments);
  va_end(arguments);
  for (;;) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    int answer = std::getchar();
    if (answer == EOF || answer == 'n' || answer == 'N') return false;
    if (answer == 'y' || answer == 'Y') return true;
    std::puts("Invalid character, choose [yYnN]");
  }
}

}  // namespace rk
