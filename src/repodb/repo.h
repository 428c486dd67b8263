// One open repository, as the database and its file operations see it.
#pragma once

#include <list>
#include <string>
#include <vector>

#include "repodb/hfile.h"
#include "repodb/repo_lock.h"
#include "repodb/user_list.h"

namespace rk {

struct repo {
  bool modified = false;
  bool use_cvs = false;
  // Set when a checkout holds changes that could not be committed.
  bool keep_workdir = false;
  std::string workdir;
  std::string root;
  // root as CVS is given it (with a checkout): a local path made absolute.
  std::string cvs_location;
  std::list<hfile> files;  // most recently registered first
  user_list users;
  // Held from before the files are read until the write-back and the commit
  // are done.
  std::vector<file_lock> locks;
  // Where a write-back keeps its journal: beside the first lock.
  std::string journal_path;
  bool has_users_file = false;
  // The host file, read, has no section for the repository.
  bool host_section_missing = false;
  bool warned_addresses_unsaved = false;
};

inline constexpr int repo_table_size = 128;

// The repository in the slot, or nothing for a bad handle or an empty slot.
repo* repo_at(int handle);

}  // namespace rk
