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

// A user's line: control characters escaped, fields by length whatever
// their size (printf fails on one over 2 GiB).
void append_user(std::string& line, std::string_view name, std::optional<std::string_view> sys_user,
                 std::optional<std::string_view> email) {
  append_printable(line, name);
  line += '<';
  append_printable(line, email ? *email : no_email);
  line += ">: ";
  append_printable(line, sys_user ? *sys_user : name);
  line += " on sys\n";
}

// Lines gathered and written a block at a time; false once standard output
// has failed (the run then ends with status 1).
class list_output {
 public:
  bool put(std::string_view name, std::optional<std::string_view> sys_user,
           std::optional<std::string_view> email) {
    append_user(block_, name, sys_user, email);
    return block_.size() < (1 << 16) || flush();
  }
  bool flush() {
    bool written = std::fwrite(block_.data(), 1, block_.size(), stdout) == block_.size();
    block_.clear();
    return written;
  }

 private:
  std::string block_;
};

bool print_user(std::string_view name, const std::optional<std::string>& sys_user,
                const std::optional<std::string>& email) {
  list_output out;
  return out.put(name, sys_user, email) && out.flush();
}

int list_all() {
  list_output out;
  long long listed = _visit_users(
      cur_repo,
      [](std::string_view name, std::optional<std::string_view> sys_user,
         std::optional<std::string_view> email, void* context) {
        return static_cast<list_output*>(context)->put(name, sys_user, email);
      },
      &out);
  if (listed == 0) {
    std::fputs("No users in database\n", stderr);
    std::puts("Can't get users list");
    return 0;
  }
  return out.flush() ? 0 : 1;
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
