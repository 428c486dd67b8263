#include "repodb/replacement.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "cvs/random_bytes.h"
#include "cvs/signal_cleanup.h"
#include "repodb/file_attributes.h"
#include "repodb/file_system.h"
#include "repodb/file_text.h"
#include "repodb/journal.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

constexpr std::string_view temp_prefix = ".rk_tm";
constexpr char temp_letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Six letters or digits drawn at random; a draw that would favour the first
// letters is drawn again. Without random bytes a count stands in: the name
// is still made with O_EXCL, only easier to guess.
std::string temp_name() {
  constexpr unsigned letters = sizeof temp_letters - 1;
  static unsigned stand_in = static_cast<unsigned>(getpid());
  std::string name(temp_prefix);
  while (name.size() < temp_prefix.size() + 6) {
    unsigned char byte = 0;
    if (random_bytes(&byte, 1) != 0) byte = static_cast<unsigned char>(stand_in++ % letters);
    if (byte < 256 / letters * letters) name += temp_letters[byte % letters];
  }
  return name;
}

// make(name) tries one fresh temporary name; retried while the name is taken.
template <typename Maker>
std::string with_fresh_name(Maker make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = temp_name();
    if (make(name) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

// Some file systems cannot sync a directory (EINVAL); the rename stands there
// all the same.
int sync_directory(const directory& dir) {
  if (disk().fsync(dir.fd()) == 0 || errno == EINVAL) return 0;
  std::perror(dir.path().c_str());
  return -1;
}

// A file mounted over itself (a bind mount) is neither linked to nor
// renamed over: EXDEV or EBUSY.
void say_mount_point(const std::string& path) {
  std::fprintf(stderr, "%s is a mount point of its own, which a rename cannot replace\n",
               printable(path).c_str());
}

}  // namespace

std::shared_ptr<directory> directory::open(const std::string& path) {
  int fd = disk().open_dir(path.c_str());
  if (fd < 0) return nullptr;
  return std::make_shared<directory>(fd, path);
}

directory::~directory() { disk().close(fd_); }

std::string directory::path_of(std::string_view name) const {
  std::string path = path_ == "/" ? std::string() : path_;
  path += '/';
  path += name;
  return path;
}

bool is_temp_name(std::string_view name) {
  if (!name.starts_with(temp_prefix) || name.size() != temp_prefix.size() + 6) return false;
  for (char c : name.substr(temp_prefix.size())) {
    if (std::string_view(temp_letters).find(c) == std::string_view::npos) return false;
  }
  return true;
}

std::optional<replacement> replacement::create(std::shared_ptr<directory> dir, std::string name,
                                               bool holds_passwords,
                                               std::optional<struct stat> expected) {
  // A signal between the file's making and its registration for clean-up
  // would leave it behind.
  signals_held held;
  int fd = -1;
  std::string temp = with_fresh_name([&](const std::string& candidate) {
    fd = disk().open_at(dir->fd(), candidate.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd < 0 ? -1 : 0;
  });
  if (temp.empty()) {
    std::perror(dir->path_of(name).c_str());
    return std::nullopt;
  }
  return replacement(std::move(dir), std::move(name), std::move(temp), fd, holds_passwords,
                     expected);
}

replacement::replacement(std::shared_ptr<directory> dir, std::string name, std::string temp,
                         int fd, bool holds_passwords, std::optional<struct stat> expected)
    : dir_(std::move(dir)),
      name_(std::move(name)),
      temp_(std::move(temp)),
      fd_(fd),
      writer_(fd),
      holds_passwords_(holds_passwords),
      expected_(expected),
      cleanup_slot_(remember_temp_file(dir_->fd(), temp_)) {}

replacement::replacement(replacement&& other) noexcept
    : dir_(std::move(other.dir_)),
      name_(std::move(other.name_)),
      temp_(std::move(other.temp_)),
      fd_(std::exchange(other.fd_, -1)),
      writer_(std::move(other.writer_)),
      holds_passwords_(other.holds_passwords_),
      expected_(other.expected_),
      exists_(std::exchange(other.exists_, false)),
      cleanup_slot_(std::exchange(other.cleanup_slot_, -1)) {}

replacement::~replacement() { discard(); }

void replacement::discard() {
  if (fd_ >= 0) disk().close(std::exchange(fd_, -1));
  if (!exists_) return;
  exists_ = false;
  forget_temp_file(std::exchange(cleanup_slot_, -1));
  if (disk().unlink_at(dir_->fd(), temp_.c_str()) == 0) return;
  if (holds_passwords_) {
    std::fprintf(stderr,
                 "I'm afraid we couldn't do that. Could you\nplease remove %s ASAP? "
                 "(it contains passwords!)\n",
                 dir_->path_of(temp_).c_str());
  } else {
    std::perror(dir_->path_of(temp_).c_str());
  }
}

void replacement::placed() {
  exists_ = false;
  forget_temp_file(std::exchange(cleanup_slot_, -1));
}

bool replacement::unchanged_since_read(bool linked) const {
  if (!expected_) return true;
  struct stat now {};
  if (disk().stat_at(dir_->fd(), name_.c_str(), &now) == 0 &&
      same_version(now, *expected_, !linked)) {
    return true;
  }
  std::fprintf(stderr,
               "%s was changed by another program while rosterkeep ran; nothing was changed\n",
               printable(target_path()).c_str());
  return false;
}

int replacement::finish() {
  if (writer_.flush() != 0 || carry_attributes(*dir_, name_, fd_) != 0) {
    std::perror(target_path().c_str());
    return -1;
  }
  // The disk starts on it while the next file is made; sync() waits.
  disk().start_writeback(fd_);
  return 0;
}

int replacement::sync() {
  if (fd_ < 0) return 0;
  if (disk().fsync(fd_) != 0 || disk().close(std::exchange(fd_, -1)) != 0) {
    std::perror(target_path().c_str());
    return -1;
  }
  return 0;
}

void write_batch::add(replacement file, std::string rename_failure) {
  files_.push_back(staged{std::move(file), std::move(rename_failure), {}, false});
}

bool write_batch::targets_unchanged(bool linked) const {
  for (const auto& each : files_) {
    if (!each.file.unchanged_since_read(linked)) return false;
  }
  return true;
}

int write_batch::make_backups() {
  for (auto& each : files_) {
    const directory& dir = *each.file.dir_;
    struct stat st {};
    if (disk().stat_at(dir.fd(), each.file.name_.c_str(), &st) != 0) continue;
    each.backup = with_fresh_name([&](const std::string& candidate) {
      return disk().link_at(dir.fd(), each.file.name_.c_str(), dir.fd(), candidate.c_str());
    });
    if (each.backup.empty()) {
      int error = errno;
      std::perror(printable(each.file.target_path()).c_str());
      if (error == EXDEV) say_mount_point(each.file.target_path());
      return -1;
    }
    each.backup_slot = remember_temp_file(dir.fd(), each.backup);
  }
  return 0;
}

std::vector<journal_entry> write_batch::journal() const {
  std::vector<journal_entry> entries;
  for (const auto& each : files_) {
    if (each.backup.empty()) continue;
    entries.push_back(journal_entry{each.file.target_path(), each.file.dir_->path_of(each.backup)});
  }
  return entries;
}

// The journal is a symbolic link whose text lists the files (it is never
// followed): made in one step, it is on disk with its directory's sync, at
// the cost of no sync of its own. A list too long for a link goes into a
// file, synced before it is named.
int write_batch::write_journal() {
  if (journal_path_.empty()) return 0;
  const std::string text = journal_text(journal());
  journal_dir_ = directory::open(directory_of(journal_path_));
  bool written = journal_dir_ != nullptr;
  const std::string name = base_name(journal_path_);
  if (written && text.size() < journal_link_limit) {
    written = disk().symlink_at(text.c_str(), journal_dir_->fd(), name.c_str()) == 0;
    journal_written_ = written;
  } else if (written) {
    auto file = replacement::create(journal_dir_, name, false, std::nullopt);
    if (file) file->out().put(text);
    written = file && file->finish() == 0 && file->sync() == 0 &&
              disk().rename_at(journal_dir_->fd(), file->temp_.c_str(), journal_dir_->fd(),
                               name.c_str()) == 0;
    if (written) file->placed();
    journal_written_ = written;
  }
  if (!written) {
    std::perror(journal_path_.c_str());
    return -1;
  }
  return 0;
}

// Each directory of the batch once, the journal's among them.
int write_batch::sync_directories() {
  int result = 0;
  std::vector<const directory*> synced;
  if (journal_written_ && journal_dir_) {
    synced.push_back(journal_dir_.get());
    if (sync_directory(*journal_dir_) != 0) result = -1;
  }
  for (const auto& each : files_) {
    const directory* dir = each.file.dir_.get();
    bool seen = false;
    for (const directory* other : synced) seen = seen || other->path() == dir->path();
    if (seen) continue;
    synced.push_back(dir);
    if (sync_directory(*dir) != 0) result = -1;
  }
  return result;
}

int write_batch::remove_journal() {
  if (!journal_written_) return 0;
  if (disk().unlink_at(journal_dir_->fd(), base_name(journal_path_).c_str()) != 0) {
    std::perror(journal_path_.c_str());
    return -1;
  }
  journal_written_ = false;
  return sync_directory(*journal_dir_);
}

// Renames the backups of the files already replaced back into place. What
// cannot be put back stays listed in the journal for the next run.
void write_batch::put_back() {
  bool complete = true;
  for (auto each = files_.rbegin(); each != files_.rend(); ++each) {
    if (!each->replaced) continue;
    const directory& dir = *each->file.dir_;
    const char* name = each->file.name_.c_str();
    int undone = each->backup.empty() ? disk().unlink_at(dir.fd(), name)
                                      : disk().rename_at(dir.fd(), each->backup.c_str(), dir.fd(), name);
    if (undone != 0) {
      std::perror(each->file.target_path().c_str());
      complete = false;
      continue;
    }
    each->replaced = false;
    each->backup.clear();
    forget_temp_file(std::exchange(each->backup_slot, -1));
  }
  if (!complete) {
    std::fprintf(stderr, "The next run of rosterkeep will put back the files listed in %s\n",
                 journal_path_.c_str());
    return;
  }
  sync_directories();
  remove_journal();
  drop_backups();
}

// A backup left behind has a temporary name: the next run removes it.
void write_batch::drop_backups() {
  for (auto& each : files_) {
    if (each.backup.empty()) continue;
    disk().unlink_at(each.file.dir_->fd(), each.backup.c_str());
    each.backup.clear();
    forget_temp_file(std::exchange(each.backup_slot, -1));
  }
}

int write_batch::commit() {
  // A signal now would leave the files half replaced: it waits.
  signals_held held;
  return commit_held();
}

int write_batch::commit_held() {
  // Before the first rename: the backups and the journal that names them
  // are made, then the new files and the directories synced (a file system
  // that syncs metadata in order takes the links along with the first file).
  // A file another program changed since it was read would lose that
  // change: a look before the backups, and the last one before the first
  // rename (the backup's link has changed the file's change time by then).
  bool ready = targets_unchanged(false) && make_backups() == 0 && write_journal() == 0;
  for (auto& each : files_) ready = ready && each.file.sync() == 0;
  if (!ready || sync_directories() != 0 || !targets_unchanged(true)) {
    remove_journal();
    drop_backups();
    return -1;
  }
  for (auto& each : files_) {
    replacement& file = each.file;
    if (disk().rename_at(file.dir_->fd(), file.temp_.c_str(), file.dir_->fd(),
                         file.name_.c_str()) != 0) {
      int error = errno;
      if (each.rename_failure.empty()) {
        std::perror(printable(file.target_path()).c_str());
      } else {
        std::fputs(each.rename_failure.c_str(), stderr);
        std::perror(nullptr);
      }
      if (error == EBUSY || error == EXDEV) say_mount_point(file.target_path());
      put_back();
      return -1;
    }
    file.placed();
    each.replaced = true;
  }
  if (sync_directories() != 0 || remove_journal() != 0) {
    put_back();
    return -1;
  }
  drop_backups();
  return 0;
}

bool may_back_up(const directory& dir, const std::string& name) {
  // The kernel's rule, looked at without making the link (which would
  // change the file's change time): its owner, root, or a user who may read
  // and write it.
  struct stat st {};
  if (disk().stat_at(dir.fd(), name.c_str(), &st) != 0 || geteuid() == 0 ||
      st.st_uid == geteuid() ||
      faccessat(dir.fd(), name.c_str(), R_OK | W_OK, AT_EACCESS) == 0) {
    return true;
  }
  std::fprintf(stderr,
               "%s cannot be given the second name a safe rewrite keeps as its backup, as the "
               "system lets only its owner or a user who may write it do that: make it writable "
               "for this user (mode 0664 and its group), or run as its owner; nothing was "
               "changed\n",
               printable(dir.path_of(name)).c_str());
  return false;
}

int stage(write_batch& batch, replacement file, std::string rename_failure) {
  if (file.finish() != 0) return -1;
  batch.add(std::move(file), std::move(rename_failure));
  return 0;
}

struct stat new_file_status() {
  struct stat st {};
  mode_t mask = umask(0);
  umask(mask);
  st.st_mode = S_IFREG | (0666 & ~mask);
  st.st_uid = geteuid();
  st.st_gid = getegid();
  return st;
}

std::string directory_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace rk
