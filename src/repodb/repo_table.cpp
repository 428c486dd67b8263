// The table of open repositories and their life: open, sync, close.
#include <array>
#include <cstdio>
#include <memory>

#include "cvs/cvs.h"
#include "fixed_paths.h"
#include "repodb/database.h"
#include "repodb/file_formats.h"
#include "repodb/replacement.h"
#include "repodb/repo.h"

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

// The directory whose CVSROOT holds the files: a fresh checkout, or the
// repository itself. Nothing when there is none.
std::optional<std::string> open_workdir(const std::string& location, bool use_cvs) {
  if (use_cvs) {
    auto dir = make_temp_dir();
    // Without a directory the checkout cannot run; the failure is the same.
    if (run_cvs_in(dir.value_or(""), location, "checkout", "CVSROOT") < 0) return std::nullopt;
    return dir;
  }
  auto dir = strip_method(location);
  if (!dir) return std::nullopt;
  return std::string(*dir);
}

bool register_password_file(repo& r) {
  return hfile_add(r, fixed_paths::sys_passwd, false, sys_passwd_read, sys_passwd_write) ||
         hfile_add(r, "passwd", true, passwd_read, passwd_write);
}

int write_back(repo& r) {
  write_batch batch;
  bool staged = true;
  for (const hfile& file : r.files) {
    if (hfile_write(file, batch) < 0) staged = false;
  }
  // Files that could not all be written replace none of the old ones.
  if (!staged || batch.commit() != 0) return -1;
  if (!r.use_cvs) return 0;
  if (run_cvs_in(r.workdir, r.root, "commit", "-mrosterkeep_change") < 0) {
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

int repo_handle(const repo* r) {
  for (int slot = 0; slot < repo_table_size; ++slot) {
    if (repo_table[static_cast<std::size_t>(slot)].get() == r) return slot;
  }
  return -1;
}

int repo_open(const std::string& location, bool use_cvs) {
  if (is_remote_without_cvs(location, use_cvs)) {
    std::fprintf(stderr,
                 "Not using cvs(1) and non-local repository `%s', can't continue, see the -c "
                 "switch",
                 location.c_str());
    return -1;
  }
  int slot = lowest_empty_slot();
  if (slot < 0) {
    std::fputs("Too many openned repositories\n", stderr);
    return -1;
  }
  auto workdir = open_workdir(location, use_cvs);
  if (!workdir) return -1;

  auto& entry = repo_table[static_cast<std::size_t>(slot)];
  entry = std::make_unique<repo>();
  entry->use_cvs = use_cvs;
  entry->workdir = std::move(*workdir);
  entry->root = location;
  if (!register_password_file(*entry)) {
    std::printf("Couldn't read any password file in %s\n", location.c_str());
    entry.reset();
    return -1;
  }
  hfile_add(*entry, "users", false, users_read, users_write);
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
  int result = repo_sync(handle);
  r->files.clear();
  if (r->use_cvs && !r->keep_workdir && remove_tree(r->workdir) < 0) {
    std::fputs("***Warning: Couldn't clean up tempdirectory\n", stderr);
  }
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
