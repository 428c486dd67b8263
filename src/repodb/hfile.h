// A file of a repository that holds users: where it is and how it is read and
// written back.
#pragma once

#include <memory>
#include <string>

#include "repodb/mapped_file.h"

namespace rk {

struct repo;
class directory;
class write_batch;

struct hfile {
  repo* owner;
  std::string path;  // as registered, for messages
  // The directory that holds the file (symbolic links resolved), held open
  // from registration on, and the file's name in it.
  std::shared_ptr<directory> dir;
  std::string name;
  // Stores the file's users in the repository: 0 or more, or negative.
  int (*read)(hfile& file);
  // Writes the repository's users to a new version of the file and adds it to
  // the batch: 0, or -1 (reported) when it cannot.
  int (*write)(const hfile& file, write_batch& batch);
  // What read() read, if it kept it: lines of it that stand unchanged are
  // copied from it.
  std::shared_ptr<const mapped_file> content = nullptr;
};

// Registers name (absolute, or inside the repository's CVSROOT) and reads it:
// 1 when registered, 0 when not.
int hfile_add(repo& owner, const std::string& name, bool may_create, int (*read)(hfile&),
              int (*write)(const hfile&, write_batch&));
int hfile_read(hfile& file);
// The file's content, read through a mapping, never through a link swapped
// in since it was registered; nothing (its path reported perror style) when
// it cannot be read.
std::shared_ptr<const mapped_file> read_input(const hfile& file);
int hfile_write(const hfile& file, write_batch& batch);

}  // namespace rk
