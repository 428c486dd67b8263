#include "repodb/text_writer.h"

#include <algorithm>
#include <cerrno>

#include "repodb/file_system.h"

namespace rk {

void text_writer::write_out(std::string_view text) {
  std::size_t done = 0;
  while (error_ == 0 && done < text.size()) {
    ssize_t put = disk().write(fd_, text.data() + done, std::min(text.size() - done, block_size));
    if (put > 0) {
      done += static_cast<std::size_t>(put);
    } else if (put == 0) {
      error_ = EIO;
    } else if (errno != EINTR) {
      error_ = errno;
    }
  }
}

int text_writer::flush() {
  write_out(buffer_);
  buffer_.clear();
  if (error_ == 0) return 0;
  errno = error_;
  return -1;
}

}  // namespace rk
