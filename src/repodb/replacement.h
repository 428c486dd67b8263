// Rewriting files without ever leaving them half written or half changed:
// each new version is written beside its file, synced, and renamed over it;
// the files of one write-back change together or not at all.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "repodb/journal.h"
#include "repodb/text_writer.h"

namespace rk {

// A directory held open: files are made, renamed and synced in it by
// descriptor, so a directory swapped for a link after it was opened changes
// nothing.
class directory {
 public:
  // Nothing (errno set) when path is not a directory that can be opened.
  static std::shared_ptr<directory> open(const std::string& path);
  directory(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  directory(const directory&) = delete;
  directory& operator=(const directory&) = delete;
  ~directory();

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  std::string path_of(std::string_view name) const;

 private:
  int fd_;
  std::string path_;
};

// Whether name is one the tool gives its temporary files: ".rk_tm" and six
// letters or digits.
bool is_temp_name(std::string_view name);

// The next version of one file, commit-or-discard: it is written to a
// temporary file beside the file and removed again unless a write_batch put
// it in place.
class replacement {
 public:
  // Nothing (reported, naming the file) when the temporary file cannot be
  // made. expected: the version of the file that was read, which must still
  // be in place when the new one takes its place (nothing: any version).
  static std::optional<replacement> create(std::shared_ptr<directory> dir, std::string name,
                                           bool holds_passwords,
                                           std::optional<struct stat> expected);
  replacement(replacement&& other) noexcept;
  replacement& operator=(replacement&&) = delete;
  ~replacement();

  text_writer& out() { return writer_; }
  // Writes out the content and gives the file the mode, owner, group and
  // extended attributes (its ACL among them) of the version it replaces:
  // 0, or -1 (reported).
  int finish();
  // Waits until the finished file is on disk, and closes it: 0, or -1
  // (reported).
  int sync();
  std::string target_path() const { return dir_->path_of(name_); }

 private:
  friend class write_batch;
  replacement(std::shared_ptr<directory> dir, std::string name, std::string temp, int fd,
              bool holds_passwords, std::optional<struct stat> expected);
  // Whether the file is still the version read (linked: since the batch
  // gave it a second name): reported when not.
  bool unchanged_since_read(bool linked) const;
  void discard();
  // Its temporary name is gone: it took the place of its file.
  void placed();

  std::shared_ptr<directory> dir_;
  std::string name_;  // of the file it replaces
  std::string temp_;  // its own name until it is put in place
  int fd_;
  text_writer writer_;
  bool holds_passwords_;
  std::optional<struct stat> expected_;
  bool exists_ = true;
  int cleanup_slot_ = -1;  // removed by the signal handler while it exists
};

// The files of one write-back, all or nothing.
//
// Everything that can fail is done before the first rename: each file is
// complete and synced, and each old version gets a second name (a hard
// link) as its backup. A journal beside the lock lists the files and their
// backups before anything is renamed. If a rename or a sync fails, the
// backups are renamed back. Removing the journal is the moment the batch is
// done; only then do the backups go. A run killed in between leaves the
// journal, and the next run, under the same lock, puts the backups back
// (recover_batch) before it reads anything: both files old, never mixed.
class write_batch {
 public:
  // journal_path: where the journal goes (empty: none, for a checkout that
  // is thrown away anyway).
  explicit write_batch(std::string journal_path = {}) : journal_path_(std::move(journal_path)) {}
  // rename_failure is written before the system's error text when the rename
  // fails; when it is empty the file's path is reported perror style.
  void add(replacement file, std::string rename_failure = {});
  // Puts every file in place, in the order added: 0, or -1 (reported) with
  // every file as it was.
  int commit();

 private:
  int commit_held();
  struct staged {
    replacement file;
    std::string rename_failure;
    std::string backup;  // empty: the file had no old version
    bool replaced = false;
    int backup_slot = -1;
  };
  int make_backups();
  bool targets_unchanged(bool linked) const;
  static constexpr std::size_t journal_link_limit = 4000;
  std::vector<journal_entry> journal() const;
  int write_journal();
  int sync_directories();
  int remove_journal();
  void put_back();
  void drop_backups();

  std::string journal_path_;
  std::shared_ptr<directory> journal_dir_;
  bool journal_written_ = false;
  std::vector<staged> files_;
};

// Whether name in dir can get the second name a write-back gives the old
// version as its backup (the kernel's protected hard links refuse it to a
// user who neither owns nor may write the file): reported, with the way
// out, when not.
bool may_back_up(const directory& dir, const std::string& name);

// Finishes file and adds it to batch: 0, or -1 (reported; file discarded).
int stage(write_batch& batch, replacement file, std::string rename_failure = {});

// Puts back what a run killed during its write-back left half replaced, as
// its journal lists it: 0 (nothing to do, or done), or -1 (reported).
int recover_batch(const std::string& journal_path);

// The status of a new file: 0666 less the umask, owned by us.
struct stat new_file_status();

std::string directory_of(const std::string& path);
std::string base_name(const std::string& path);

}  // namespace rk
