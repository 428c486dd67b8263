// Text gathered into large blocks before it goes to a file: a file of a
// million users is written in a few dozen calls, not millions.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rk {

class text_writer {
 public:
  explicit text_writer(int fd) : fd_(fd) {}

  // A long text (a run of lines as they were read, say) goes out as it is,
  // without a copy in the block.
  void put(std::string_view text) {
    if (text.size() >= block_size) {
      if (flush() == 0) write_out(text);
      return;
    }
    buffer_.append(text);
    if (buffer_.size() >= block_size) flush();
  }
  // One line from its pieces, with one look at the block's size.
  void put_line(std::initializer_list<std::string_view> pieces) {
    for (std::string_view piece : pieces) buffer_.append(piece);
    buffer_ += '\n';
    if (buffer_.size() >= block_size) flush();
  }
  // Writes what was gathered: 0, or -1 with errno set. After a failure
  // nothing more is written and every flush fails the same way.
  int flush();

 private:
  void write_out(std::string_view text);
  static constexpr std::size_t block_size = 1 << 20;
  int fd_;
  std::string buffer_;
  int error_ = 0;
};

}  // namespace rk
