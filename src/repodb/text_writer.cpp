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

namespace {

// Where a file cannot be copied from file to file, it is written.
bool cannot_copy(int error) {
  return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP;
}

}  // namespace

void text_writer::copy(const mapped_file& from, std::string_view text) {
  if (text.size() < copied_from || flush() != 0) {
    put(text);
    return;
  }
  off_t offset = from.offset_of(text);
  while (!text.empty()) {
    ssize_t copied = disk().copy_range(from.fd(), offset, fd_, text.size());
    if (copied > 0) {
      offset += copied;
      text.remove_prefix(static_cast<std::size_t>(copied));
    } else if (copied == 0) {
      // The file is shorter than when it was read: its text is no more.
      error_ = EIO;
      return;
    } else if (cannot_copy(errno)) {
      put(text);
      return;
    } else if (errno != EINTR) {
      error_ = errno;
      return;
    }
  }
}

}  // namespace rk
