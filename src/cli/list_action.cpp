#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/actions.h"
#include "repodb/database.h"

namespace rk {
namespace {

// Stands in the angle brackets of a user without an e-mail address.
constexpr const char* no_email = "no email";

void print_user(const std::string& name, const std::optional<std::string>& sys_user,
                const std::optional<std::string>& email) {
  std::printf("%s<%s>: %s on sys\n", name.c_str(), email ? email->c_str() : no_email,
              sys_user ? sys_user->c_str() : name.c_str());
}

int list_all() {
  auto names = _list_users(cur_repo);
  if (!names) {
    std::puts("Can't get users list");
    return 0;
  }
  std::optional<std::string> sys_user;
  std::optional<std::string> email;
  for (const std::string& name : *names) {
    if (_get_user_info(cur_repo, name, nullptr, &sys_user, &email) < 0) {
      std::fputs("Internal fsck up in rosterkeep!\n", stderr);
      std::exit(1);
    }
    print_user(name, sys_user, email);
  }
  return 0;
}

}  // namespace

int list_action(int argc, char** argv) {
  if (argc < 2) return list_all();
  std::optional<std::string> sys_user;
  std::optional<std::string> email;
  for (int i = 1; i < argc; ++i) {
    if (_get_user_info(cur_repo, argv[i], nullptr, &sys_user, &email) < 0) {
      std::printf("%s: no such user\n", argv[i]);
      continue;
    }
    print_user(argv[i], sys_user, email);
  }
  return 0;
}

}  // namespace rk
