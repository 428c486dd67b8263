#include "repodb/file_system.h"

#include <fcntl.h>
#include <unistd.h>

// The Linux extended-attribute calls (flistxattr with three arguments), where
// the build found them; elsewhere a file has no attributes to carry over.
#ifdef RK_HAVE_XATTR
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdio>

namespace rk {
namespace {

class real_file_system final : public file_system {};
real_file_system real_disk;
file_system* current = &real_disk;

}  // namespace

int file_system::open_dir(const char* path) {
  return ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int file_system::open_at(int dir, const char* name, int flags, mode_t mode) {
  return ::openat(dir, name, flags, mode);
}

ssize_t file_system::write(int fd, const void* data, std::size_t size) {
  return ::write(fd, data, size);
}

ssize_t file_system::read(int fd, void* data, std::size_t size) { return ::read(fd, data, size); }

off_t file_system::seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }

int file_system::fstat(int fd, struct stat* status) { return ::fstat(fd, status); }

int file_system::stat_at(int dir, const char* name, struct stat* status) {
  return ::fstatat(dir, name, status, AT_SYMLINK_NOFOLLOW);
}

int file_system::fsync(int fd) { return ::fsync(fd); }

void file_system::start_writeback(int fd) {
#ifdef SYNC_FILE_RANGE_WRITE
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  static_cast<void>(fd);
#endif
}

int file_system::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }

int file_system::fchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }

// Where the system has no extended attributes, a file has none to carry.
ssize_t file_system::list_xattr(int fd, char* names, std::size_t size) {
#ifdef RK_HAVE_XATTR
  return ::flistxattr(fd, names, size);
#else
  static_cast<void>(fd), static_cast<void>(names), static_cast<void>(size);
  return 0;
#endif
}

ssize_t file_system::get_xattr(int fd, const char* name, void* value, std::size_t size) {
#ifdef RK_HAVE_XATTR
  return ::fgetxattr(fd, name, value, size);
#else
  static_cast<void>(fd), static_cast<void>(name), static_cast<void>(value), static_cast<void>(size);
  errno = ENOTSUP;
  return -1;
#endif
}

int file_system::set_xattr(int fd, const char* name, const void* value, std::size_t size) {
#ifdef RK_HAVE_XATTR
  return ::fsetxattr(fd, name, value, size, 0);
#else
  static_cast<void>(fd), static_cast<void>(name), static_cast<void>(value), static_cast<void>(size);
  errno = ENOTSUP;
  return -1;
#endif
}

int file_system::remove_xattr(int fd, const char* name) {
#ifdef RK_HAVE_XATTR
  return ::fremovexattr(fd, name);
#else
  static_cast<void>(fd), static_cast<void>(name);
  errno = ENOTSUP;
  return -1;
#endif
}

int file_system::symlink_at(const char* text, int dir, const char* name) {
  return ::symlinkat(text, dir, name);
}

ssize_t file_system::read_link_at(int dir, const char* name, char* text, std::size_t size) {
  return ::readlinkat(dir, name, text, size);
}

int file_system::link_at(int from_dir, const char* from, int to_dir, const char* to) {
  return ::linkat(from_dir, from, to_dir, to, 0);
}

int file_system::rename_at(int from_dir, const char* from, int to_dir, const char* to) {
  return ::renameat(from_dir, from, to_dir, to);
}

int file_system::unlink_at(int dir, const char* name) { return ::unlinkat(dir, name, 0); }

int file_system::close(int fd) { return ::close(fd); }

file_system& disk() { return *current; }

void use_disk(file_system* fs) { current = fs ? fs : &real_disk; }

}  // namespace rk
