// A file of a repository that holds users: where it is and how it is read and
// written back.
#pragma once

#include <memory>
#include <string>

#include <sys/stat.h>

#include <optional>

#include "repodb/file_text.h"
#include "repodb/user_list.h"

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
  // Where the users list keeps what read() read, if it kept it: lines of
  // it that stand unchanged are written as they were read.
  std::optional<user_list::source_id> source = std::nullopt;
  // The version read, which must still be in place when the new one takes
  // its place; nothing for a file that another program may change meanwhile.
  std::optional<struct stat> read_as = std::nullopt;
};

// Registers name (absolute, or inside the repository's CVSROOT) and reads it:
// 1 when registered, 0 when not.
int hfile_add(repo& owner, const std::string& name, bool may_create, int (*read)(hfile&),
              int (*write)(const hfile&, write_batch&));
int hfile_read(hfile& file);
// The file's content, read whole, never through a link swapped in since it
// was registered; nothing (reported, naming its path) when it cannot be read.
std::optional<file_text> read_input(const hfile& file);
int hfile_write(const hfile& file, write_batch& batch);

}  // namespace rk
