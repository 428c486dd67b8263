#include "repodb/line_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rk {

line_reader::line_reader(std::FILE* file) {
  int fd = fileno(file);
  struct stat st {};
  std::size_t expected = fstat(fd, &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
  // Read straight into the buffer; a file that grows meanwhile is read on.
  std::string& content = *content_;
  content.resize(expected + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == content.size()) content.resize(content.size() * 2);
    ssize_t got = read(fd, content.data() + filled, content.size() - filled);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      failed_ = true;
      break;
    }
  }
  content.resize(filled);
  for (auto& line : upcoming_) line = scan_line();
}

std::string_view line_reader::scan_line() {
  const std::string& content = *content_;
  if (scanned_ >= content.size()) return {};
  const char* start = content.data() + scanned_;
  std::size_t left = content.size() - scanned_;
  const void* newline = std::memchr(start, '\n', left);
  std::size_t length =
      newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1 : left;
  scanned_ += length;
  return std::string_view(start, length);
}

bool line_reader::next(std::string_view& line) {
  std::string_view& first = upcoming_[first_];
  if (first.empty()) return false;
  line = first;
  first = scan_line();
  first_ = (first_ + 1) % lookahead;
  ++number_;
  return true;
}

}  // namespace rk
