// A password while it is typed and hashed: one buffer that is never copied
// and is wiped when done.
#pragma once

#include <string.h>

#include <cstddef>
#include <vector>

namespace rk {

class secret_text {
 public:
  static constexpr std::size_t capacity = 1024;

  // Zero-filled, so that whatever is read into it stays terminated.
  secret_text() : chars_(capacity, '\0') {}
  secret_text(const secret_text&) = delete;
  secret_text& operator=(const secret_text&) = delete;
  secret_text(secret_text&&) = default;
  ~secret_text() {
    if (!chars_.empty()) explicit_bzero(chars_.data(), chars_.size());
  }

  char* data() { return chars_.data(); }
  const char* c_str() const { return chars_.data(); }
  bool empty() const { return chars_[0] == '\0'; }
  // Whether the text holds a control character: a NUL inside it shows as
  // a set byte after the first terminator, the rest of the buffer being
  // zero.
  bool has_control() const {
    bool ended = false;
    for (char c : chars_) {
      auto byte = static_cast<unsigned char>(c);
      if (ended && byte != 0) return true;
      if (byte == 0) ended = true;
      if (!ended && (byte < 0x20 || byte == 0x7f)) return true;
    }
    return false;
  }

 private:
  std::vector<char> chars_;
};

}  // namespace rk
