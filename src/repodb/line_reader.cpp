#include "repodb/line_reader.h"

#include <algorithm>
#include <cstring>

namespace rk {

bool line_reader::next(std::string_view& line) {
  if (rest_.empty()) return false;
  const void* newline = std::memchr(rest_.data(), '\n', rest_.size());
  std::size_t length = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - rest_.data()) + 1
                               : rest_.size();
  line = rest_.substr(0, length);
  rest_.remove_prefix(length);
  ++number_;
  return true;
}

std::size_t estimate_lines(std::string_view text) {
  std::string_view sample = text.substr(0, 1 << 16);
  auto newlines = static_cast<std::size_t>(std::count(sample.begin(), sample.end(), '\n'));
  if (sample.size() == text.size()) return newlines + 1;
  // A little over, as an estimate short by one line costs the list a table
  // twice the size.
  std::size_t lines = text.size() / sample.size() * (newlines + 1) +
                      text.size() % sample.size() * (newlines + 1) / sample.size() + 1;
  return lines + lines / 64;
}

}  // namespace rk
