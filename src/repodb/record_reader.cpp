#include "repodb/record_reader.h"

#include <cstdio>

#include "repodb/file_formats.h"
#include "repodb/line_reader.h"

namespace rk {

int read_records(user_list& users, user_list::source_id source, const char* what_file,
                 record_parser parse, bool adding) {
  line_reader lines(users.text_of(source));
  std::string_view line;
  user fields;
  while (lines.next(line)) {
    auto trimmed = trim_line(line);
    if (!trimmed || trimmed->front() == '#') continue;
    if (!parse(*trimmed, fields)) {
      std::fprintf(stderr, "Invalid line %llu in %s\n", lines.number(), what_file);
      return -1;
    }
    users.load(source, fields, adding);
  }
  return 0;
}

}  // namespace rk
