// Reading a text file a whole line at a time, whatever the line's length.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace rk {

class line_reader {
 public:
  // Reads all of file; failed() tells whether that worked.
  explicit line_reader(std::FILE* file);

  // The next line with its newline (the last line may have none), or false at
  // the end of the file.
  bool next(std::string_view& line);
  // The line a few lines after the one next() gave last (empty near the
  // end), so that a reader can fetch what it will need early.
  std::string_view ahead() const { return upcoming_[(first_ + lookahead - 1) % lookahead]; }
  bool failed() const { return failed_; }
  // The whole file as read.
  std::shared_ptr<const std::string> content() const { return content_; }
  unsigned long long number() const { return number_; }

 private:
  static constexpr std::size_t lookahead = 16;
  // The line at the scan position (empty at the end); moves the scan on.
  std::string_view scan_line();

  std::shared_ptr<std::string> content_ = std::make_shared<std::string>();
  std::size_t scanned_ = 0;
  // The next lookahead lines, the first of them at first_.
  std::array<std::string_view, lookahead> upcoming_{};
  std::size_t first_ = 0;
  unsigned long long number_ = 0;
  bool failed_ = false;
};

// A file opened for reading, closed with the file.
struct read_closer {
  const char* failure_word;
  void operator()(std::FILE* file) const {
    if (std::fclose(file) != 0) std::perror(failure_word);
  }
};
using input_file = std::unique_ptr<std::FILE, read_closer>;

// Files of a million users are written in large blocks.
inline constexpr std::size_t io_buffer_size = 1 << 20;

}  // namespace rk
