// Text gathered into large blocks before it goes to a file: a file of a
// million users is written in a few dozen calls, not millions.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "repodb/mapped_file.h"

namespace rk {

class text_writer {
 public:
  explicit text_writer(int fd) : fd_(fd) {}

  void put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= block_size) flush();
  }
  // One line from its pieces, with one look at the block's size.
  void put_line(std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) buffer_.append(piece);
    buffer_ += '\n';
    if (buffer_.size() >= block_size) flush();
  }
  // Text that stands as it is to be written in from, at its place there: a
  // long piece goes file to file, as the system copies it without its
  // passing through the program.
  void copy(const mapped_file& from, std::string_view text);
  // Writes what was gathered: 0, or -1 with errno set. After a failure
  // nothing more is written and every flush fails the same way.
  int flush();

 private:
  static constexpr std::size_t block_size = 1 << 20;
  // Shorter pieces are gathered: a call each would cost more.
  static constexpr std::size_t copied_from = 64 << 10;
  int fd_;
  std::string buffer_;
  int error_ = 0;
};

}  // namespace rk
