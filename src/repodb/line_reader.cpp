#include "repodb/line_reader.h"

#include <sys/types.h>

namespace rk {

bool line_reader::next(std::string_view& line) {
  char* raw = buffer_.release();
  ssize_t length = getline(&raw, &capacity_, file_);
  buffer_.reset(raw);
  if (length < 0) return false;
  ++number_;
  line = std::string_view(raw, static_cast<std::size_t>(length));
  return true;
}

input_file open_input(const std::string& path, const char* close_failure_word) {
  input_file file(std::fopen(path.c_str(), "re"), read_closer{close_failure_word});
  if (!file) std::perror(path.c_str());
  return file;
}

}  // namespace rk
