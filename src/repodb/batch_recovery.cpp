// The next run's half of the write-back's all or nothing: a journal left
// behind means a run was killed while it replaced the files, and the old
// versions go back before anything is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "repodb/file_system.h"
#include "repodb/file_text.h"
#include "repodb/journal.h"
#include "repodb/readable_text.h"
#include "repodb/replacement.h"

namespace rk {
namespace {

// The journal's text, or nothing (errno set; ENOENT when there is none).
// Only a journal of our own counts: another user could write one that names
// any file. It is a symbolic link (never followed) or, for a long list, a
// file.
std::optional<std::string> read_journal(const directory& dir, const std::string& name) {
  struct stat st {};
  if (disk().stat_at(dir.fd(), name.c_str(), &st) != 0) return std::nullopt;
  if (st.st_uid != geteuid() || !(S_ISLNK(st.st_mode) || S_ISREG(st.st_mode))) {
    errno = EPERM;
    return std::nullopt;
  }
  if (S_ISLNK(st.st_mode)) {
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    ssize_t got = disk().read_link_at(dir.fd(), name.c_str(), text.data(), text.size());
    if (got < 0) return std::nullopt;
    text.resize(static_cast<std::size_t>(got));
    return text;
  }
  auto file = read_file_at(dir.fd(), name, dir.path_of(name));
  if (!file) return std::nullopt;
  return std::move(file->text);
}

// Puts the backup back over target; a backup that is still the target itself
// (its rename never came) only goes.
int put_back(const std::string& target, const std::string& backup) {
  // A backup has a temporary name beside its file; anything else is no
  // journal of ours.
  if (directory_of(target) != directory_of(backup) || !is_temp_name(base_name(backup))) {
    errno = EINVAL;
    return -1;
  }
  auto dir = directory::open(directory_of(target));
  if (!dir && errno == ENOENT) {
    // A checkout that went with its run, or was removed since.
    std::fprintf(stderr, "%s: its directory is gone, so there is nothing to put back\n",
                 printable(target).c_str());
    return 0;
  }
  if (!dir) return -1;
  struct stat old {}, now {};
  std::string backup_name = base_name(backup), target_name = base_name(target);
  if (disk().stat_at(dir->fd(), backup_name.c_str(), &old) != 0) {
    if (errno != ENOENT) return -1;
    // Its rename was done, or it never came: the file stays as it is.
    std::fprintf(stderr,
                 "%s: the backup a stopped run of rosterkeep kept of it is gone, so it stays as "
                 "it is; check that it holds what it should\n",
                 printable(target).c_str());
    return 0;
  }
  bool same = disk().stat_at(dir->fd(), target_name.c_str(), &now) == 0 &&
              now.st_dev == old.st_dev && now.st_ino == old.st_ino;
  int result = same ? disk().unlink_at(dir->fd(), backup_name.c_str())
                    : disk().rename_at(dir->fd(), backup_name.c_str(), dir->fd(), target_name.c_str());
  if (result == 0 && disk().fsync(dir->fd()) != 0 && errno != EINVAL) result = -1;
  if (result == 0 && !same) {
    std::fprintf(stderr, "%s: put back as it was before a run of rosterkeep that was stopped\n",
                 target.c_str());
  }
  return result;
}

}  // namespace

int recover_batch(const std::string& journal_path) {
  auto dir = directory::open(directory_of(journal_path));
  if (!dir) return 0;
  const std::string name = base_name(journal_path);
  auto content = read_journal(*dir, name);
  if (!content) {
    if (errno == ENOENT) return 0;
    std::perror(journal_path.c_str());
    return -1;
  }
  for (const journal_entry& entry : journal_entries(*content)) {
    if (put_back(entry.target, entry.backup) != 0) {
      std::perror(printable(entry.target).c_str());
      std::fprintf(stderr, "%s: a stopped run's files could not all be put back\n",
                   journal_path.c_str());
      return -1;
    }
  }
  if (disk().unlink_at(dir->fd(), name.c_str()) != 0) {
    std::perror(journal_path.c_str());
    return -1;
  }
  return 0;
}

}  // namespace rk
