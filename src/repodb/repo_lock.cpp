#include "repodb/repo_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "cvs/fixed_paths.h"
#include "repodb/readable_text.h"
#include "repodb/replacement.h"

namespace rk {
namespace {

// Whoever may replace the files in dir may take their lock, and nobody
// else: anyone who could open the lock file could hold it and stall the
// administrators' runs.
void give_dir_access(int fd, const struct stat& dir) {
  if (fchown(fd, dir.st_uid, dir.st_gid) != 0) {
    int ignored = fchown(fd, static_cast<uid_t>(-1), dir.st_gid);
    static_cast<void>(ignored);
  }
  mode_t mode = 0600;
  if (dir.st_mode & S_IWGRP) mode |= 0060;
  if (dir.st_mode & S_IWOTH) mode |= 0006;
  int ignored = fchmod(fd, mode);
  static_cast<void>(ignored);
}

// The lock file, opened for writing so that a read-only directory shows now,
// before any question; created when missing. Never through a symbolic link:
// a planted one would make the tool create a file elsewhere.
int open_lock_file(const std::string& path) {
  constexpr int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
  if (fd >= 0) {
    struct stat dir {};
    if (stat(directory_of(path).c_str(), &dir) == 0) give_dir_access(fd, dir);
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = open(path.c_str(), flags);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool try_lock(int fd, bool& failed) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  failed = errno != EWOULDBLOCK;
  return false;
}

// The lock file names the process that holds it, for the runs that wait.
void record_holder(int fd) {
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
    static_cast<void>(ignored);
  }
}

// The holder's process id as the lock file names it, or nothing.
std::optional<long> holder_of(int fd) {
  char text[32] = {};
  ssize_t got = pread(fd, text, sizeof text - 1, 0);
  if (got <= 0) return std::nullopt;
  char* end = nullptr;
  long pid = std::strtol(text, &end, 10);
  if (pid <= 0 || *end != '\n') return std::nullopt;
  return pid;
}

struct dir_closer {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::optional<file_lock> file_lock::take(const std::string& path) {
  int fd = open_lock_file(path);
  if (fd < 0) {
    std::perror(path.c_str());
    return std::nullopt;
  }
  file_lock lock(fd);
  bool failed = false;
  if (try_lock(fd, failed)) {
    record_holder(fd);
    return lock;
  }
  if (!failed) {
    std::fprintf(stderr, "Waiting for another run of rosterkeep to release %s\n",
                 printable(path).c_str());
    if (auto pid = holder_of(fd)) std::fprintf(stderr, "It is held by process %ld\n", *pid);
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(fixed_paths::lock_wait_seconds);
    while (!failed && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (try_lock(fd, failed)) {
        record_holder(fd);
        return lock;
      }
    }
  }
  if (failed) {
    std::perror(path.c_str());
  } else {
    std::fprintf(stderr, "%s: still locked by another run after %d seconds; nothing was changed\n",
                 path.c_str(), fixed_paths::lock_wait_seconds);
  }
  return std::nullopt;
}

std::optional<file_lock> file_lock::take_if_free(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  file_lock lock(fd);
  bool failed = false;
  if (!try_lock(fd, failed)) return std::nullopt;
  return lock;
}

file_lock::file_lock(file_lock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

file_lock::~file_lock() {
  if (fd_ >= 0) close(fd_);
}

void remove_stale_temp_files(const std::string& dir) {
  std::unique_ptr<DIR, dir_closer> entries(opendir(dir.c_str()));
  if (!entries) return;
  int dir_fd = dirfd(entries.get());
  while (const dirent* entry = readdir(entries.get())) {
    if (!is_temp_name(entry->d_name)) continue;
    struct stat st {};
    if (fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    if (unlinkat(dir_fd, entry->d_name, 0) != 0) std::perror((dir + "/" + entry->d_name).c_str());
  }
}

}  // namespace rk
