// Every call the tool makes to read and rewrite its files, behind one
// narrow seam, so that a test can make any of them fail and see what is left.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace rk {

class file_system {
 public:
  // open(2) of a directory, for the files made in it and its sync.
  virtual int open_dir(const char* path);
  virtual int open_at(int dir, const char* name, int flags, mode_t mode);
  virtual ssize_t read(int fd, void* data, std::size_t size);
  virtual ssize_t write(int fd, const void* data, std::size_t size);
  virtual off_t seek(int fd, off_t offset, int whence);
  virtual int fstat(int fd, struct stat* status);
  // fstatat(2) without following a final symbolic link.
  virtual int stat_at(int dir, const char* name, struct stat* status);
  virtual int fsync(int fd);
  // Asks the system to start writing fd's data out, without waiting; only
  // a hint, so it may do nothing.
  virtual void start_writeback(int fd);
  virtual int fchmod(int fd, mode_t mode);
  virtual int fchown(int fd, uid_t owner, gid_t group);
  virtual ssize_t list_xattr(int fd, char* names, std::size_t size);
  virtual ssize_t get_xattr(int fd, const char* name, void* value, std::size_t size);
  virtual int set_xattr(int fd, const char* name, const void* value, std::size_t size);
  virtual int remove_xattr(int fd, const char* name);
  virtual int symlink_at(const char* text, int dir, const char* name);
  virtual ssize_t read_link_at(int dir, const char* name, char* text, std::size_t size);
  virtual int link_at(int from_dir, const char* from, int to_dir, const char* to);
  virtual int rename_at(int from_dir, const char* from, int to_dir, const char* to);
  virtual int unlink_at(int dir, const char* name);
  virtual int close(int fd);

 protected:
  // Not virtual, and so trivial: the real one is never destroyed, and files
  // closed as the program exits still find it.
  ~file_system() = default;
};

// The file system in use: the real one unless a test put another in place.
file_system& disk();
// Puts fs in place (nothing: the real one again). The caller keeps fs.
void use_disk(file_system* fs);

}  // namespace rk
