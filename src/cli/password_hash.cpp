#include "cli/password_hash.h"

#include <crypt.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/ask.h"

namespace rk {
namespace {

constexpr char salt_alphabet[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789./";

void fill_random(unsigned char* bytes, std::size_t count) {
  ssize_t got = 0;
  do {
    got = getrandom(bytes, count, 0);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(count)) {
    std::perror("getrandom");
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

std::optional<std::string> hash_password(secret_text& password, const char* salt) {
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

}  // namespace rk
