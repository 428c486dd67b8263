#include "repodb/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace rk {

std::shared_ptr<const mapped_file> mapped_file::of(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return nullptr;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return nullptr;
  }
  auto size = static_cast<std::size_t>(st.st_size);
  int own_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own_fd < 0) return nullptr;
  void* data = nullptr;
  if (size != 0) {
    data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      int saved = errno;
      close(own_fd);
      errno = saved;
      return nullptr;
    }
    // Read once from the start to the end.
    posix_madvise(data, size, POSIX_MADV_SEQUENTIAL);
  }
  return std::make_shared<const mapped_file>(data, size, own_fd);
}

mapped_file::~mapped_file() {
  if (data_) munmap(const_cast<void*>(data_), size_);
  if (drop_cached_pages_) posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
  close(fd_);
}

bool mapped_file::holds(std::string_view part) const {
  const char* begin = static_cast<const char*>(data_);
  return begin && std::less_equal<>{}(begin, part.data()) &&
         std::less_equal<>{}(part.data() + part.size(), begin + size_);
}

}  // namespace rk
