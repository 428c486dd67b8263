#include "repodb/record_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "repodb/file_formats.h"
#include "repodb/line_reader.h"

namespace rk {
namespace {

constexpr std::size_t batch_size = 256;

// About how many users a text holds, to size the index ahead: its lines
// that are not empty, but no more than one in 16 bytes (a password line is
// longer than that), so that a file of short lines, blank or repeated,
// costs no index larger than itself.
std::size_t likely_records(std::string_view text) {
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size();) {
    const void* newline = std::memchr(text.data() + at, '\n', text.size() - at);
    std::size_t end = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text.data())
                              : text.size();
    if (end > at) ++lines;
    at = end + 1;
  }
  return std::min(lines, text.size() / 16);
}

}  // namespace

int read_records(user_list& users, user_list::source_id source, const char* what_file,
                 record_parser parse, bool adding) {
  if (adding) users.expect(likely_records(users.text_of(source)));
  line_reader lines(users.text_of(source));
  std::string_view line;
  // Stored a batch at a time, so that the list can look ahead.
  std::vector<user> batch;
  batch.reserve(batch_size);
  while (lines.next(line)) {
    auto trimmed = trim_line(line);
    if (!trimmed || trimmed->front() == '#') continue;
    user& fields = batch.emplace_back();
    if (!parse(*trimmed, fields)) {
      batch.pop_back();
      users.load_all(source, batch, adding);
      std::fprintf(stderr, "Invalid line %llu in %s\n", lines.number(), what_file);
      return -1;
    }
    if (batch.size() == batch_size) {
      users.load_all(source, batch, adding);
      batch.clear();
    }
  }
  users.load_all(source, batch, adding);
  return 0;
}

}  // namespace rk
