#include "cvs/signal_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
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
char work_dir[max_path_length + 1] = "";

sigset_t cleanup_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : cleanup_signals) sigaddset(&set, signal_number);
  return set;
}

// Only async-signal-safe calls from here on. A directory tree has no such
// call to list it, so rm(1) removes the checkout.
void remove_work_dir() {
  if (work_dir[0] == '\0') return;
  pid_t child = fork();
  if (child == 0) {
    char rm[] = "/bin/rm", flags[] = "-rf", end_of_options[] = "--";
    char* argv[] = {rm, flags, end_of_options, work_dir, nullptr};
    char* envp[] = {nullptr};
    execve(rm, argv, envp);
    _exit(127);
  }
  if (child > 0) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void clean_up_and_die(int signal_number) {
  int saved = errno;
  for (auto& slot : temp_files) {
    if (slot.name[0] != '\0') unlinkat(slot.dir_fd, slot.name, 0);
  }
  // Leave the directory the checkout was made in first, so rm can remove it.
  if (work_dir[0] != '\0' && chdir("/") == 0) remove_work_dir();
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
  if (path.size() > max_path_length) return;
  signals_held held;
  std::memcpy(work_dir, path.c_str(), path.size() + 1);
}

void forget_work_dir() { work_dir[0] = '\0'; }

signals_held::signals_held() {
  sigset_t set = cleanup_set();
  sigprocmask(SIG_BLOCK, &set, &before_);
}

signals_held::~signals_held() { sigprocmask(SIG_SETMASK, &before_, nullptr); }

}  // namespace rk
