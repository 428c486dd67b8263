// Reading a text a whole line at a time, whatever the line's length.
#pragma once

#include <cstddef>
#include <string_view>

namespace rk {

class line_reader {
 public:
  explicit line_reader(std::string_view text) : rest_(text) {}

  // The next line with its newline (the last line may have none), or false at
  // the end of the text.
  bool next(std::string_view& line);
  // The number of the line next() gave last, from 1.
  unsigned long long number() const { return number_; }

 private:
  std::string_view rest_;
  unsigned long long number_ = 0;
};

}  // namespace rk
