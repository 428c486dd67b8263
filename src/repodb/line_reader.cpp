#include "repodb/line_reader.h"

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

}  // namespace rk
