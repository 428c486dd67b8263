#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cli/actions.h"
#include "repodb/database.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

// Stands in the angle brackets of a user without an e-mail address.
constexpr const char* no_email = "no email";

// Fields go out by length, whatever their size (printf fails on one over
// 2 GiB); false once standard output has failed.
bool print_user(const std::string& name, const std::optional<std::string>& sys_user,
                const std::optional<std::string>& email) {
  static std::string line;
  line.clear();
  // The fields may come from a remote server: none may drive the terminal.
  line.append(printable(name)).append("<").append(email ? printable(*email) : no_email);
  line.append(">: ").append(printable(sys_user ? *sys_user : name)).append(" on sys\n");
  return std::fwrite(line.data(), 1, line.size(), stdout) == line.size();
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
    // The run ends with status 1 when what it printed did not all arrive.
    if (!print_user(name, sys_user, email)) return 1;
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
      std::printf("%s: no such user\n", printable(argv[i]).c_str());
      continue;
    }
    if (!print_user(argv[i], sys_user, email)) return 1;
  }
  return 0;
}

}  // namespace rk
