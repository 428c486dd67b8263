#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "cvs/cvs.h"
#include "cvs/fixed_paths.h"
#include "cvs/signal_cleanup.h"

namespace rk {
namespace {

constexpr std::string_view work_prefix = ".rk_tmp";
// In a checkout, the process id of the run it belongs to. CVS ignores names
// that begin with ".#".
constexpr const char* owner_record = ".#rosterkeep.pid";

struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
};

void record_owner(const std::string& dir) {
  int fd = open((dir + "/" + owner_record).c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string pid = std::to_string(getpid()) + "\n";
  ssize_t ignored = write(fd, pid.data(), pid.size());
  static_cast<void>(ignored);
  close(fd);
}

// Whether the checkout in dir belongs to a run that has ended.
bool owner_has_ended(int dir_fd) {
  int fd = openat(dir_fd, owner_record, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char text[32] = {};
  ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return false;
  char* end = nullptr;
  long pid = std::strtol(text, &end, 10);
  if (pid <= 0 || *end != '\n') return false;
  return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

void remove_stopped_checkouts() {
  std::unique_ptr<DIR, dir_closer> entries(opendir(fixed_paths::temp_dir));
  if (!entries) return;
  int temp_fd = dirfd(entries.get());
  while (const dirent* entry = readdir(entries.get())) {
    std::string_view name = entry->d_name;
    if (!name.starts_with(work_prefix) || name.size() != work_prefix.size() + 6) continue;
    struct stat st {};
    if (fstatat(temp_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != geteuid()) {
      continue;
    }
    int dir_fd = openat(temp_fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir_fd < 0) continue;
    bool stale = owner_has_ended(dir_fd);
    close(dir_fd);
    if (stale) remove_tree(std::string(fixed_paths::temp_dir) + "/" + entry->d_name);
  }
}

std::optional<std::string> make_temp_dir() {
  std::string path = std::string(fixed_paths::temp_dir) + "/.rk_tmpXXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) return std::nullopt;
  record_owner(name.data());
  remember_work_dir(name.data());
  return std::string(name.data());
}

int run_cvs_in(const std::string& dir, const std::string& location, const char* command,
               const char* argument) {
  if (chdir(dir.c_str()) != 0) return -1;
  return run_cvs(location, command, argument);
}

}  // namespace rk
