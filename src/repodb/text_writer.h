// Text gathered into large blocks before it goes to a stream: a file of a
// million users is written in a few dozen calls, not millions.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace rk {

class text_writer {
 public:
  explicit text_writer(std::FILE* out) : out_(out) { buffer_.reserve(block_size + 4096); }
  text_writer(const text_writer&) = delete;
  text_writer& operator=(const text_writer&) = delete;
  ~text_writer() { flush(); }

  void put(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= block_size) flush();
  }
  // Errors stay on the stream, for whoever finishes it to find.
  void flush() {
    std::fwrite(buffer_.data(), 1, buffer_.size(), out_);
    buffer_.clear();
  }

 private:
  static constexpr std::size_t block_size = 1 << 20;
  std::FILE* out_;
  std::string buffer_;
};

}  // namespace rk
