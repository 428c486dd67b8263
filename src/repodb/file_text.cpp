#include "repodb/file_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "repodb/file_system.h"
#include "repodb/readable_text.h"

namespace rk {
namespace {

void report(const std::string& path, const char* why) {
  std::fprintf(stderr, "%s: %s, so it is not read\n", printable(path).c_str(), why);
}

// 1 when the file has a hole before its end, 0 when not (or where the
// system cannot tell), -1 when the look fails. The look moves the file's
// offset, which goes back to the start.
int has_holes(int fd, off_t size) {
#ifdef SEEK_HOLE
  off_t hole = disk().seek(fd, 0, SEEK_HOLE);
  if (disk().seek(fd, 0, SEEK_SET) != 0) return -1;
  return hole >= 0 && hole < size ? 1 : 0;
#else
  static_cast<void>(fd), static_cast<void>(size);
  return 0;
#endif
}

// Reads the size bytes the file had a moment ago; a file that has become
// shorter since then is being changed, and is not read (EAGAIN).
bool read_all(int fd, std::string& text, std::size_t size) {
  text.resize(size);
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = disk().read(fd, text.data() + done, size - done);
    if (got == 0) {
      errno = EAGAIN;
      return false;
    }
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::optional<file_text> read_open_file(int fd, const std::string& path) {
  file_text file{};
  if (disk().fstat(fd, &file.status) != 0) {
    std::perror(printable(path).c_str());
    return std::nullopt;
  }
  if (!S_ISREG(file.status.st_mode)) {
    report(path, "it is not a regular file");
    errno = EINVAL;
    return std::nullopt;
  }
  if (file.status.st_size > max_file_size) {
    report(path, "it is larger than 1 GiB");
    errno = EFBIG;
    return std::nullopt;
  }
  int holes = has_holes(fd, file.status.st_size);
  if (holes == 1) {
    report(path, "it has holes (a sparse file)");
    errno = EINVAL;
    return std::nullopt;
  }
  if (holes < 0 || !read_all(fd, file.text, static_cast<std::size_t>(file.status.st_size))) {
    if (errno == EAGAIN) {
      report(path, "it became shorter while it was read (another program is changing it)");
    } else {
      std::perror(printable(path).c_str());
    }
    return std::nullopt;
  }
  return file;
}

}  // namespace

std::optional<file_text> read_file_at(int dir_fd, const std::string& name, const std::string& path) {
  int fd = disk().open_at(dir_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
  if (fd < 0) {
    int saved = errno;
    if (saved != ENOENT) std::perror(printable(path).c_str());
    errno = saved;
    return std::nullopt;
  }
  auto file = read_open_file(fd, path);
  int saved = errno;
  disk().close(fd);
  errno = saved;
  return file;
}

bool same_version(const struct stat& a, const struct stat& b, bool with_ctime) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         (!with_ctime ||
          (a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec));
}

}  // namespace rk
