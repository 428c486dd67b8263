// Locks that keep changing runs on the same files apart.
#pragma once

#include <optional>
#include <string>

namespace rk {

// An exclusive flock(2) on a lock file of its own: the data files are
// replaced by rename, so a lock on them would sit on a file nobody reads
// any more. The kernel drops the lock when the process ends, so a killed
// run never leaves a stale one; the file itself stays for the next run.
class file_lock {
 public:
  // Takes the lock on path, creating the file when it is missing and
  // waiting for another run up to the configured time: nothing (reported on
  // standard error) when it cannot.
  static std::optional<file_lock> take(const std::string& path);
  // The lock on an existing lock file if nobody holds it; nothing, without
  // a word, otherwise.
  static std::optional<file_lock> take_if_free(const std::string& path);
  file_lock(file_lock&& other) noexcept;
  file_lock& operator=(file_lock&&) = delete;
  ~file_lock();

 private:
  explicit file_lock(int fd) : fd_(fd) {}
  int fd_;
};

// Removes from dir the temporary files of the tool's own naming that a
// killed run left there: they may hold password hashes. Call it only under
// the lock that guards dir.
void remove_stale_temp_files(const std::string& dir);

}  // namespace rk
