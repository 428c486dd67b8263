// A file read whole into a buffer of the tool's own: what another program
// does to the file afterwards cannot change what the run read.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

namespace rk {

// The largest file the tool reads; a larger one is refused, as is a file
// with holes in it, so that memory and time follow what a file really holds.
inline constexpr off_t max_file_size = off_t{1} << 30;

struct file_text {
  std::string text;
  // The version read: its device, inode, size and times.
  struct stat status;
};

// Reads the regular file name in the directory dir_fd, never through a
// symbolic link and never blocking on a device or a FIFO: nothing (reported,
// naming path) when it cannot be read whole; errno is then ENOENT when there
// is no such file.
std::optional<file_text> read_file_at(int dir_fd, const std::string& name, const std::string& path);

// Whether two looks at a file saw the same version of it: the same device,
// inode, size, modification time and (with_ctime) change time.
bool same_version(const struct stat& a, const struct stat& b, bool with_ctime);

}  // namespace rk
