#include "cli/ask.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/hidden_input.h"
#include "cli/password_hash.h"

namespace rk {
namespace {

struct buffer_free {
  void operator()(char* buffer) const { std::free(buffer); }
};

password_answer ask_hidden() {
  char salt[3];
  make_salt(salt);
  auto password = read_hidden_line();
  if (!password) std::exit(1);
  if (password->has_control()) return {std::nullopt, true};
  if (password->empty()) return {};
  auto hash = hash_password(*password, salt);
  if (!hash) std::exit(1);
  const char* typed = password->c_str();
  return {hash, false, std::strlen(typed), typed[0] == '$' && is_known_hash_form(typed)};
}

void print_prompt(const char* format, va_list arguments) {
  std::vprintf(format, arguments);
  std::fflush(stdout);
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
  print_prompt(format, arguments);
  va_end(arguments);
  return hidden ? ask_hidden().hash : ask_plain();
}

password_answer ask_password(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  print_prompt(format, arguments);
  va_end(arguments);
  return ask_hidden();
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
