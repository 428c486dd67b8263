#include "repodb/text_writer.h"

#include <cerrno>

#include "repodb/file_system.h"

namespace rk {

int text_writer::flush() {
  std::size_t done = 0;
  while (error_ == 0 && done < buffer_.size()) {
    ssize_t put = disk().write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put == 0) {
      error_ = EIO;
    } else if (errno != EINTR) {
      error_ = errno;
    }
  }
  buffer_.clear();
  if (error_ == 0) return 0;
  errno = error_;
  return -1;
}

}  // namespace rk
