// Rewriting a file without ever leaving it half written: the new content goes
// to a temporary file, is flushed to disk, and only then renamed over the old.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rk {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// A temporary file "<dir>/.rk_tmXXXXXX" (mode 0600), removed again unless it
// was renamed into place.
class temp_file {
 public:
  // Nothing when it cannot be made; failed_call then names the failed call
  // ("mkstemp" or "fdopen") and errno says why.
  static std::optional<temp_file> create(const std::string& dir, bool holds_passwords,
                                         const char*& failed_call);
  temp_file(temp_file&& other) noexcept;
  temp_file& operator=(temp_file&&) = delete;
  ~temp_file();

  std::FILE* stream() const { return stream_.get(); }
  const std::string& path() const { return path_; }

  // Flushes the content to disk, gives the file the permission bits and (where
  // allowed) the owner of `like`, and closes it: 0, or -1 with errno set.
  int finish(const struct stat& like);
  // 0, or -1 with errno set (the file then stays where it was).
  int rename_to(const std::string& target);
  // Moves other (finished) onto this file's name: 0, or -1 with errno set
  // (EXDEV when other is on another file system).
  int take_over(temp_file& other);
  // Removes the file now; tells the user its name when that fails.
  void remove();

 private:
  temp_file(std::string path, file_handle stream, bool holds_passwords);

  std::string path_;
  file_handle stream_;
  bool holds_passwords_;
  bool exists_ = true;
};

// The file a rewrite of path replaces: the file a symbolic link names, so that
// the link stays a link.
std::string rewrite_target(const std::string& path);

// The status of path, or, when it does not exist, of a new file (0666 less the
// umask, owned by us).
struct stat status_or_new(const std::string& path);

// The files of one write-back: each is complete and on disk before any of them
// replaces its old version.
class write_batch {
 public:
  // rename_failure is written before the system's error text when the rename
  // fails; when it is empty the target's path is reported perror style.
  void add(temp_file file, std::string target, std::string rename_failure = {});
  // Puts every file in place, in the order added: 0, or -1.
  int commit();

 private:
  struct staged {
    temp_file file;
    std::string target;
    std::string rename_failure;
  };
  std::vector<staged> files_;
};

// A temporary file beside target for its new content; reports target perror
// style when it cannot be made.
std::optional<temp_file> create_beside(const std::string& target, bool holds_passwords);

// Finishes file as a new version of target and adds it to batch: 0, or -1
// after reporting target perror style (file is then removed).
int stage_beside(write_batch& batch, temp_file file, const std::string& target);

std::string directory_of(const std::string& path);

}  // namespace rk
