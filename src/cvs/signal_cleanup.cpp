#include "cvs/signal_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "cvs/cvs.h"

namespace rk {
namespace {

constexpr std::array<int, 4> cleanup_signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Plain arrays the handler can read whatever the rest of the program was
// doing: a slot is in use while its name is not empty.
struct temp_slot {
  volatile sig_atomic_t dir_fd;
  char name[32];
};
std::array<temp_slot, 16> temp_files{};
// The checkout's files that hold users: the handler removes them, and the
// rest of the checkout (which it cannot list safely) is left to the next run.
char work_passwd[max_path_length + 1] = "";
char work_users[max_path_length + 1] = "";

sigset_t cleanup_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : cleanup_signals) sigaddset(&set, signal_number);
  return set;
}

// Only async-signal-safe calls: unlinks, nothing else.
void remove_what_the_run_made() {
  for (auto& slot : temp_files) {
    if (slot.name[0] != '\0') unlinkat(slot.dir_fd, slot.name, 0);
  }
  if (work_passwd[0] != '\0') unlink(work_passwd);
  if (work_users[0] != '\0') unlink(work_users);
}

void clean_up_and_die(int signal_number) {
  int saved = errno;
  remove_what_the_run_made();
  errno = saved;
  signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal_number);
}

}  // namespace

void install_signal_cleanup() {
  struct sigaction action {};
  action.sa_handler = clean_up_and_die;
  action.sa_mask = cleanup_set();
  for (int signal_number : cleanup_signals) {
    struct sigaction old {};
    // A signal ignored when the run began (nohup) stays ignored.
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal_number, &action, nullptr);
  }
}

int remember_temp_file(int dir_fd, const std::string& name) {
  if (name.size() >= sizeof temp_slot::name) return -1;
  signals_held held;
  for (std::size_t i = 0; i < temp_files.size(); ++i) {
    if (temp_files[i].name[0] != '\0') continue;
    temp_files[i].dir_fd = dir_fd;
    std::memcpy(temp_files[i].name, name.c_str(), name.size() + 1);
    return static_cast<int>(i);
  }
  return -1;
}

void forget_temp_file(int slot) {
  if (slot < 0) return;
  temp_files[static_cast<std::size_t>(slot)].name[0] = '\0';
}

void remember_work_dir(const std::string& path) {
  std::string passwd = path + "/CVSROOT/passwd";
  std::string users = path + "/CVSROOT/users";
  if (users.size() > max_path_length) return;
  signals_held held;
  std::memcpy(work_passwd, passwd.c_str(), passwd.size() + 1);
  std::memcpy(work_users, users.c_str(), users.size() + 1);
}

void forget_work_dir() {
  signals_held held;
  work_passwd[0] = '\0';
  work_users[0] = '\0';
}

void remove_temp_files_now() {
  signals_held held;
  remove_what_the_run_made();
}

signals_held::signals_held() {
  sigset_t set = cleanup_set();
  sigprocmask(SIG_BLOCK, &set, &before_);
}

signals_held::~signals_held() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

}  // namespace rk
