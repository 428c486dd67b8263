// Reading a text file a whole line at a time, whatever the line's length.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace rk {

class line_reader {
 public:
  explicit line_reader(std::FILE* file) : file_(file) {}

  // The next line with its newline (the last line may have none), or false at
  // the end of the file or on a read error (see failed()).
  bool next(std::string_view& line);
  bool failed() const { return std::ferror(file_) != 0; }
  int number() const { return number_; }

 private:
  struct buffer_free {
    void operator()(char* buffer) const { std::free(buffer); }
  };
  std::FILE* file_;
  std::unique_ptr<char, buffer_free> buffer_;
  std::size_t capacity_ = 0;
  int number_ = 0;
};

// A file opened for reading, closed with the file.
struct read_closer {
  const char* failure_word;
  void operator()(std::FILE* file) const {
    if (std::fclose(file) != 0) std::perror(failure_word);
  }
};
using input_file = std::unique_ptr<std::FILE, read_closer>;

// Opens path for reading; reports it perror style when that fails.
input_file open_input(const std::string& path, const char* close_failure_word);

}  // namespace rk
