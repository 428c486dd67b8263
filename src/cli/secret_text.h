// A password while it is typed and hashed: wiped from memory when done.
#pragma once

#include <string.h>

#include <cstddef>
#include <vector>

namespace rk {

class secret_text {
 public:
  secret_text() { chars_.reserve(128); }
  secret_text(const secret_text&) = delete;
  secret_text& operator=(const secret_text&) = delete;
  secret_text(secret_text&&) = default;
  ~secret_text() { wipe(chars_); }

  void push_back(char c) {
    if (chars_.size() + 1 >= chars_.capacity()) grow();
    chars_.push_back(c);
  }
  bool empty() const { return chars_.empty(); }
  // The text, terminated.
  const char* c_str() {
    push_back('\0');
    chars_.pop_back();
    return chars_.data();
  }

 private:
  static void wipe(std::vector<char>& chars) {
    if (chars.capacity() > 0) explicit_bzero(chars.data(), chars.capacity());
  }
  // Grows by hand so that no copy is left behind in freed memory.
  void grow() {
    std::vector<char> larger;
    larger.reserve(chars_.capacity() * 2);
    larger.assign(chars_.begin(), chars_.end());
    wipe(chars_);
    chars_.swap(larger);
  }
  std::vector<char> chars_;
};

}  // namespace rk
