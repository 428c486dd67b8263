// Text gathered into large blocks before it goes to a file: a file of a
// million users is written in a few dozen calls, not millions. Text that
// stays where it is until the end (a file just read) goes out from there,
// neighbouring pieces in one write.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rk {

class text_writer {
 public:
  explicit text_writer(int fd) : fd_(fd) {}

  void put(std::string_view text) {
    if (!run_.empty()) write_run();
    buffer_.append(text);
    if (buffer_.size() >= block_size) write_buffer();
  }
  // Like put, for text that stays valid and unchanged until flush().
  void put_in_place(std::string_view text) {
    if (!run_.empty() && run_.data() + run_.size() == text.data()) {
      run_ = std::string_view(run_.data(), run_.size() + text.size());
      return;
    }
    if (!run_.empty()) write_run();
    run_ = text;
  }
  // Writes what was gathered: 0, or -1 with errno set. After a failure
  // nothing more is written and every flush fails the same way.
  int flush();

 private:
  static constexpr std::size_t block_size = 1 << 20;
  void write_buffer();
  void write_run();
  void write_all(std::string_view text);

  int fd_;
  std::string buffer_;
  std::string_view run_;
  int error_ = 0;
};

}  // namespace rk
