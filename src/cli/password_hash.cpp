#include "cli/password_hash.h"

// libxcrypt declares crypt in <crypt.h>; the BSDs in <unistd.h>.
#if __has_include(<crypt.h>)
#include <crypt.h>
#endif
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/ask.h"
#include "cvs/random_bytes.h"

namespace rk {
namespace {

constexpr char salt_alphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";

void fill_random(unsigned char* bytes, std::size_t count) {
  if (random_bytes(bytes, count) != 0) {
    std::perror("random bytes");
    std::exit(1);
  }
}

}  // namespace

void make_salt(char* salt) {
  unsigned char random[2];
  fill_random(random, sizeof random);
  salt[0] = salt_alphabet[random[0] & 63];
  salt[1] = salt_alphabet[random[1] & 63];
  salt[2] = '\0';
}

std::optional<std::string> hash_password(const secret_text& password, const char* salt) {
  auto work = std::make_unique<crypt_data>();
  errno = 0;
  const char* hash = crypt_r(password.c_str(), salt, work.get());
  // libxcrypt answers a failure with nothing or with a text beginning with '*'.
  std::optional<std::string> result;
  if (hash && hash[0] != '*') {
    result = hash;
  } else {
    std::perror("crypt");
  }
  explicit_bzero(work.get(), sizeof *work);
  return result;
}

bool is_known_hash_form(const char* text) {
  const std::string_view hash = text;
  if (hash.starts_with('!') || hash.starts_with('*')) return true;
#ifdef CRYPT_SALT_OK
  int verdict = crypt_checksalt(text);
  if (verdict == CRYPT_SALT_INVALID || verdict == CRYPT_SALT_METHOD_DISABLED) return false;
#endif
  // The salt alone may be fine while the rest is not ("hello world" has a
  // DES salt): a hash of something made with it has the hash's own form,
  // its length and its setting, and the rest in crypt's alphabet.
  auto work = std::make_unique<crypt_data>();
  const char* probe = crypt_r("", text, work.get());
  if (!probe || probe[0] == '*' || std::strlen(probe) != hash.size()) return false;
  auto last_dollar = hash.rfind('$');
  std::size_t setting = last_dollar == std::string_view::npos ? 2 : last_dollar + 1;
  if (hash.compare(0, setting, probe, setting) != 0) return false;
  return hash.find_first_not_of(salt_alphabet, setting) == std::string_view::npos;
}

}  // namespace rk
