// Random files for every reader: the repository's passwd and users and a
// section of the host file, cut from one input at its NUL bytes. Whatever a
// run can read, a change writes back so that the next run reads the same
// users again; nothing may crash on the way.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "repodb/database.h"

namespace {

using namespace rk;

const std::string sandbox = RK_SANDBOX_DIR;
const std::string repo = sandbox + "/fuzz/repo";
const std::string host_file = sandbox + "/etc/cvs.passwd";

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct listed_user {
  std::string name;
  std::optional<std::string> hash, sys_user, email;
  bool operator==(const listed_user&) const = default;
};

// Every user of the repository, or nothing when it cannot be opened. An
// absent hash or system user is written as empty text, and so read back.
std::optional<std::vector<listed_user>> read_users() {
  int handle = repo_open(repo, false, open_mode::reading);
  if (handle < 0) return std::nullopt;
  std::vector<listed_user> users;
  for (const std::string& name : _list_users(handle).value_or(std::vector<std::string>{})) {
    listed_user u{name, {}, {}, {}};
    _get_user_info(handle, name, &u.hash, &u.sys_user, &u.email);
    u.hash = u.hash.value_or("");
    u.sys_user = u.sys_user.value_or("");
    users.push_back(u);
  }
  repo_close(handle);
  return users;
}

// Adds a user and deletes it again: two write-backs of what was read.
bool add_and_delete(const std::string& name) {
  for (bool adding : {true, false}) {
    int handle = repo_open(repo, false, open_mode::changing);
    if (handle < 0) return false;
    if (adding) {
      _set_user_info(handle, name, "!", std::nullopt, std::nullopt);
    } else {
      _del_user(handle, name);
    }
    if (repo_close(handle) < 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool made = [] {
    mkdir((sandbox + "/fuzz").c_str(), 0755);
    mkdir(repo.c_str(), 0755);
    mkdir((sandbox + "/etc").c_str(), 0755);
    return mkdir((repo + "/CVSROOT").c_str(), 0755) == 0 || errno == EEXIST;
  }();
  if (!made) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  // Cut at the first two NULs: passwd, then users, then the host section.
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (std::size_t nul; parts.size() < 2 && (nul = input.find('\0', at)) != std::string::npos;) {
    parts.push_back(input.substr(at, nul - at));
    at = nul + 1;
  }
  parts.push_back(input.substr(at));
  write_file(repo + "/CVSROOT/passwd", parts[0]);
  unlink((repo + "/CVSROOT/users").c_str());
  if (parts.size() > 1) write_file(repo + "/CVSROOT/users", parts[1]);
  unlink(host_file.c_str());
  if (parts.size() > 2) write_file(host_file, repo + "\n" + parts[2]);

  auto before = read_users();
  if (!before) return 0;
  const std::string added = "fuzz-added";
  for (const listed_user& u : *before) {
    if (u.name == added) return 0;
  }
  if (!add_and_delete(added)) return 0;
  auto after = read_users();
  if (!after || *after != *before) __builtin_trap();
  return 0;
}
