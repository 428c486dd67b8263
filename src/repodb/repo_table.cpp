// The table of open repositories and their life: open, sync, close.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "cvs/cvs.h"
#include "cvs/signal_cleanup.h"
#include "cvs/fixed_paths.h"
#include "repodb/cvs_kept_files.h"
#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/file_text.h"
#include "repodb/line_reader.h"
#include "repodb/replacement.h"
#include "repodb/readable_text.h"
#include "repodb/repo.h"
#include "repodb/trusted_path.h"

namespace rk {
namespace {

std::array<std::unique_ptr<repo>, repo_table_size> repo_table;

bool is_remote_without_cvs(const std::string& location, bool use_cvs) {
  return !use_cvs && location.starts_with(':') && !location.starts_with(":loc");
}

int lowest_empty_slot() {
  for (int slot = 0; slot < repo_table_size; ++slot) {
    if (!repo_table[static_cast<std::size_t>(slot)]) return slot;
  }
  return -1;
}

// The location as CVS is given it: a local repository's relative path made
// absolute (CVS refuses one), from the directory the run started in.
std::string cvs_location(const std::string& location) {
  std::string_view prefix;
  for (std::string_view local : {":local:", ":fork:"}) {
    if (location.starts_with(local)) prefix = local;
  }
  if (prefix.empty() && location.starts_with(':')) return location;
  std::string_view path = std::string_view(location).substr(prefix.size());
  if (path.starts_with('/')) return location;
  std::vector<char> cwd(4096);
  while (!getcwd(cwd.data(), cwd.size())) {
    if (errno != ERANGE) return location;
    cwd.resize(cwd.size() * 2);
  }
  return std::string(prefix) + cwd.data() + "/" + std::string(path);
}

// The directory whose CVSROOT holds the files: a fresh checkout, or the
// repository itself. Nothing when there is none.
std::optional<std::string> open_workdir(const repo& r) {
  if (r.use_cvs) {
    remove_stopped_checkouts();
    auto dir = make_temp_dir();
    // Without a directory the checkout cannot run; the failure is the same.
    if (run_cvs_in(dir.value_or(""), r.cvs_location, "checkout", "CVSROOT") < 0) {
      // What a failed checkout left holds nothing worth keeping.
      if (dir && remove_tree(*dir) < 0) {
        std::fputs("***Warning: Couldn't clean up tempdirectory\n", stderr);
      }
      forget_work_dir();
      return std::nullopt;
    }
    return dir;
  }
  auto dir = strip_method(r.root);
  if (!dir) return std::nullopt;
  return std::string(*dir);
}

// The host file is the password file in use where it exists and this user
// may read it; elsewhere its lock is none of this run's business (an
// administrator who may not read it works on the repository's own passwd).
bool host_file_may_be_used(const repo& r) {
  struct stat st {};
  return may_use_host_file(r) && stat(fixed_paths::sys_passwd, &st) == 0 && S_ISREG(st.st_mode) &&
         faccessat(AT_FDCWD, fixed_paths::sys_passwd, R_OK, AT_EACCESS) == 0;
}

// Whether the repository's own passwd names any user.
bool own_passwd_has_users(const repo& r) {
  auto dir = directory::open(r.workdir + "/CVSROOT");
  auto content = dir ? read_file_at(dir->fd(), "passwd", dir->path_of("passwd")) : std::nullopt;
  if (!content) return false;
  line_reader lines(content->text);
  std::string_view line;
  while (lines.next(line)) {
    auto trimmed = trim_line(line);
    if (trimmed && trimmed->front() != '#' && trimmed->find(':') != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// The host file is in use for every repository once it exists: one without
// a section there has no users, while a stock CVS server still reads its
// own passwd. Said once, naming both files.
void warn_if_host_file_has_no_section(const repo& r) {
  if (!r.host_section_missing || !own_passwd_has_users(r)) return;
  std::fprintf(stderr,
               "Warning: %s is in use and has no section for %s, so the users in "
               "%s/CVSROOT/passwd (which a stock CVS server reads) are not used\n",
               printable(fixed_paths::sys_passwd).c_str(),
               printable(strip_method(r.root).value_or(r.root)).c_str(),
               printable(r.workdir).c_str());
}

// "X.lock" guards the files whose write-back keeps its journal in
// "X.journal".
std::string journal_beside(const std::string& lock_path) {
  return lock_path.substr(0, lock_path.size() - std::string_view(".lock").size()) + ".journal";
}

// Under the lock, first what a killed run left: its half-done write-back is
// undone before anything is read, and its temporary files go.
// keeps_journal: the write-back's journal goes beside this lock.
bool take_lock(repo& r, const std::string& lock_path, bool keeps_journal) {
  auto lock = file_lock::take(lock_path);
  if (!lock) return false;
  r.locks.push_back(std::move(*lock));
  if (keeps_journal && r.journal_path.empty()) r.journal_path = journal_beside(lock_path);
  if (recover_batch(journal_beside(lock_path)) != 0) return false;
  remove_stale_temp_files(directory_of(lock_path));
  return true;
}

// The repository's own lock, or nothing (reported when a link on the way
// is not to be followed). A remote repository worked on through a checkout
// has no local files to lock; CVS's own up-to-date check guards its commit.
std::optional<std::string> repo_lock_path(const repo& r, bool& refused) {
  refused = false;
  if (r.use_cvs && !may_use_host_file(r)) return std::nullopt;
  auto dir = strip_method(r.root);
  // Without a directory the repository does not open at all.
  if (!dir) return std::nullopt;
  auto cvsroot = trusted_target(std::string(*dir) + "/CVSROOT");
  refused = !cvsroot;
  if (!cvsroot) return std::nullopt;
  return *cvsroot + "/.rosterkeep.lock";
}

// Locks what a changing run may rewrite, before anything is read: the host
// file first, then the repository's own files. A checkout's files go with
// the run, so no journal names them from beside the repository's lock; the
// host file's journal may, and recovery passes over a checkout that is gone.
bool lock_files(repo& r) {
  if (host_file_may_be_used(r) &&
      !take_lock(r, std::string(fixed_paths::sys_passwd) + ".lock", true)) {
    return false;
  }
  bool refused = false;
  auto lock_path = repo_lock_path(r, refused);
  return !refused && (!lock_path || take_lock(r, *lock_path, !r.use_cvs));
}

// A run that only reads never waits for the lock, but where a killed run
// left its files half replaced and nobody holds the lock, it puts them back
// first, as a changing run would: false when that fails, as its files would
// be shown mixed.
bool recover_if_idle(const std::string& lock_path) {
  struct stat st {};
  if (lstat(journal_beside(lock_path).c_str(), &st) != 0) return true;
  auto lock = file_lock::take_if_free(lock_path);
  return !lock || recover_batch(journal_beside(lock_path)) == 0;
}

bool recover_for_reading(const repo& r) {
  if (host_file_may_be_used(r) &&
      !recover_if_idle(std::string(fixed_paths::sys_passwd) + ".lock")) {
    return false;
  }
  auto dir = strip_method(r.root);
  if (r.use_cvs || !dir) return true;
  struct stat st {};
  std::string journal = std::string(*dir) + "/CVSROOT/.rosterkeep.journal";
  if (lstat(journal.c_str(), &st) != 0) return true;
  bool refused = false;
  auto lock_path = repo_lock_path(r, refused);
  return !lock_path || recover_if_idle(*lock_path);
}

// A users file that is there but could not be read whole: a change now
// would write passwd without it and part addresses from their users.
bool users_file_unread(const repo& r) {
  struct stat st {};
  std::string path = r.workdir + "/CVSROOT/users";
  if (r.has_users_file || lstat(path.c_str(), &st) != 0) return false;
  std::fprintf(stderr,
               "%s exists but could not be read whole, so a change now would part e-mail "
               "addresses from their users; nothing was changed\n",
               printable(path).c_str());
  return true;
}

// Where a repository's CVSROOT is missing, what the location names instead.
void hint_at_missing_cvsroot(const repo& r) {
  struct stat st {};
  if (r.use_cvs || stat((r.workdir + "/CVSROOT").c_str(), &st) == 0 || errno != ENOENT) return;
  std::string dir = r.workdir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.ends_with("/CVSROOT") || dir == "CVSROOT") {
    std::fprintf(stderr, "%s is the CVSROOT directory; the repository is its parent\n",
                 printable(r.workdir).c_str());
  } else {
    std::fprintf(stderr, "%s has no CVSROOT directory: is it a CVS repository (cvs init)?\n",
                 printable(r.workdir).c_str());
  }
}

// What a write-back needs of the files that can be known now, before any
// question: each can get its backup's second name.
bool files_may_be_backed_up(const repo& r) {
  for (const hfile& file : r.files) {
    if (!may_back_up(*file.dir, file.name)) return false;
  }
  return true;
}

enum class registration { done, unreadable, refused };

// Registers and reads the files, the password file first (the host file,
// else the repository's own passwd). A changing run is refused where its
// change would not last; a checkout that did not bring passwd cannot carry
// a change to it.
registration register_files(repo& r, open_mode mode) {
  bool changing = mode == open_mode::changing;
  if (hfile_add(r, fixed_paths::sys_passwd, false, sys_passwd_read, sys_passwd_write)) {
    warn_if_host_file_has_no_section(r);
  } else {
    if (changing && r.use_cvs && !checkout_has_passwd(r)) return registration::refused;
    if (!hfile_add(r, "passwd", true, passwd_read, passwd_write)) {
      std::printf("Couldn't read any password file in %s\n", printable(r.root).c_str());
      hint_at_missing_cvsroot(r);
      return registration::unreadable;
    }
  }
  r.has_users_file = hfile_add(r, "users", false, users_read, users_write) == 1;
  if (changing && (users_file_unread(r) || !changes_would_last(r) || !files_may_be_backed_up(r))) {
    return registration::refused;
  }
  return registration::done;
}

int write_back(repo& r) {
  write_batch batch(r.journal_path);
  bool staged = true;
  for (const hfile& file : r.files) {
    if (hfile_write(file, batch) < 0) staged = false;
  }
  // Files that could not all be written replace none of the old ones.
  bool committed = staged && batch.commit() == 0;
  if (!committed) return -1;
  if (!r.use_cvs) return 0;
  if (run_cvs_in(r.workdir, r.cvs_location, "commit", "-mrosterkeep_change") < 0) {
    std::fputs("Can't commit new files\n", stderr);
    std::fprintf(stderr, "The changes are kept in %s\n", r.workdir.c_str());
    r.keep_workdir = true;
    return -1;
  }
  return 0;
}

}  // namespace

repo* repo_at(int handle) {
  if (handle < 0 || handle >= repo_table_size) return nullptr;
  return repo_table[static_cast<std::size_t>(handle)].get();
}

int repo_open(const std::string& location, bool use_cvs, open_mode mode) {
  // A line break in the location would go into the host file as a header
  // and a user line of its own; an empty directory names no repository.
  auto dir = strip_method(location);
  if (has_control(location) || (dir && dir->empty())) return -1;
  if (is_remote_without_cvs(location, use_cvs)) {
    std::fprintf(stderr,
                 "Not using cvs(1) and non-local repository `%s', can't continue, see the -c "
                 "switch\n",
                 printable(location).c_str());
    return -1;
  }
  int slot = lowest_empty_slot();
  if (slot < 0) {
    std::fputs("Too many openned repositories\n", stderr);
    return -1;
  }
  auto opened = std::make_unique<repo>();
  opened->use_cvs = use_cvs;
  opened->root = location;
  if (mode == open_mode::changing && !lock_files(*opened)) return -1;
  if (mode == open_mode::reading && !recover_for_reading(*opened)) return -1;
  if (use_cvs) opened->cvs_location = cvs_location(location);
  auto workdir = open_workdir(*opened);
  if (!workdir) return -1;
  opened->workdir = std::move(*workdir);

  // In the slot before any file is read: the reads store users through it.
  auto& entry = repo_table[static_cast<std::size_t>(slot)];
  entry = std::move(opened);
  registration done = register_files(*entry, mode);
  if (done != registration::done) {
    // A refused checkout holds nothing worth keeping.
    if (done == registration::refused && entry->use_cvs && remove_tree(entry->workdir) < 0) {
      std::fputs("***Warning: Couldn't clean up tempdirectory\n", stderr);
    }
    entry.reset();
    return -1;
  }
  entry->modified = false;
  return slot;
}

int repo_sync(int handle) {
  repo* r = repo_at(handle);
  if (!r || !r->modified) return 0;
  int result = write_back(*r);
  r->modified = false;
  return result;
}

int repo_close(int handle) {
  repo* r = repo_at(handle);
  if (!r) return -1;
  int result = r->modified ? write_back(*r) : 0;
  r->files.clear();
  if (r->use_cvs && !r->keep_workdir && remove_tree(r->workdir) < 0) {
    std::fputs("***Warning: Couldn't clean up tempdirectory\n", stderr);
  }
  if (r->use_cvs) forget_work_dir();
  repo_table[static_cast<std::size_t>(handle)].reset();
  return result;
}

void repo_close_all() {
  for (int slot = 0; slot < repo_table_size; ++slot) {
    if (repo_at(slot)) repo_close(slot);
  }
}

std::optional<std::string_view> strip_method(std::string_view location) {
  if (!location.starts_with(':')) return location;
  auto second_colon = location.find(':', 1);
  if (second_colon == std::string_view::npos) return std::nullopt;
  return location.substr(second_colon + 1);
}

}  // namespace rk
