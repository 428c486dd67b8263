// Running the built tool as an administrator would, inside the test sandbox.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rk_test {

// The sandbox the test copy of the tool is pointed at.
std::string sandbox_dir();
std::string sandbox_tool();
std::string sandbox_sys_passwd();  // the test copy's "/etc/cvs.passwd"
std::string sandbox_cvs();         // the test copy's "/usr/bin/cvs"
std::string sandbox_tmp();         // the test copy's "/tmp"
// Empties the sandbox: no host password file, an empty temporary directory,
// and the real CVS program in place.
void reset_sandbox();

struct result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

struct run_options {
  std::vector<std::string> args;
  std::string input;
  // Variables to set (a value) or unset (nothing); the rest is inherited.
  std::vector<std::pair<std::string, std::optional<std::string>>> env;
  std::string cwd;
  // Runs in the child just before the tool starts (limits, mounts...).
  std::function<void()> in_child;
  // Another copy of the tool to run (empty: the sandboxed one).
  std::string program;
};

// Runs the sandboxed tool in a new session with no terminal.
result run_tool(const run_options& options);
result run_tool(std::vector<std::string> args, std::string input = {});
// Runs a program (searched in PATH) and returns its result.
result run_program(std::vector<std::string> argv, const std::string& cwd = {},
                   std::vector<std::pair<std::string, std::optional<std::string>>> env = {});

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
bool exists(const std::string& path);
struct stat file_status(const std::string& path);
// Names in dir (without "." and ".."), sorted.
std::vector<std::string> list_dir(const std::string& dir);

// A fresh directory under the sandbox, removed with the object.
class scratch_dir {
 public:
  scratch_dir();
  ~scratch_dir();
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A local repository: dir/CVSROOT with the given passwd and (if given) users.
std::string make_repo(const scratch_dir& dir, const std::optional<std::string>& passwd,
                      const std::optional<std::string>& users = std::nullopt);

// Whether hash is the crypt(3) hash of password (with the salt it begins with).
bool hash_matches(const std::string& password, const std::string& hash);

// In the child: runs the rest of the test's child steps in a private mount
// namespace with dir made read-only (root), or takes the write bits off dir.
void make_read_only_in_child(const std::string& dir);
// In the child: root keeps its identity but loses the powers to read or
// search what the permission bits deny (for the program it then runs too).
void drop_file_access_override_in_child();
// In the child: writes beyond bytes fail with EFBIG instead of a signal.
void limit_file_size_in_child(unsigned long bytes);

}  // namespace rk_test
